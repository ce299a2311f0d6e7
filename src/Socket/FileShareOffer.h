#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The TV's offer of files to download: a JSON object with a base URL and a list of files.
struct FileShareOffer {
    struct File {
        std::string id;   // put into the download URL as it stands; a JSON number becomes its decimal text
        std::string name; // as the TV gives it; the downloader makes it safe to store
        // Bytes, when the entry has a non-negative integer "size"; shown in the offer window only.
        std::optional<uint64_t> size;
    };

    std::string url;  // empty when the offer has none, or one that is not a string
    std::vector<File> files;
    // Entries of "files" that are not an object with a string or integer "id" and a string "name":
    // they count as files of the offer that cannot be fetched.
    size_t unusableFiles = 0;

    // Every entry of "files", usable or not.
    size_t fileCount() const { return files.size() + unusableFiles; }

    // Reads the UTF-8 JSON text up to the first NUL. Refused (nullopt) when the text is not a JSON
    // object. A "files" that is not an array holds no files. Other members are ignored.
    static std::optional<FileShareOffer> decode(std::span<const uint8_t> payload);
};

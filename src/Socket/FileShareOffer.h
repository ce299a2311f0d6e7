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
    };

    std::string url;
    std::vector<File> files;

    // Reads the UTF-8 JSON text up to the first NUL. Refused (nullopt) when the text is not a JSON
    // object, "url" is not a string or "files" is not an array; an entry of "files" that is not an
    // object with a string or integer "id" and a string "name" is skipped. Other members are ignored.
    static std::optional<FileShareOffer> decode(std::span<const uint8_t> payload);
};

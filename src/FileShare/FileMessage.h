#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// One file chosen in the file panel. Its thumbnail is the Qt tile's business, made from fileType and
// filePath when the tile is first shown.
struct FileMessage {
    // 2 to 8 decimal digits; also the name of its copy in the shared folder.
    std::string fileId;
    // The name as chosen, with its extension.
    std::string fileName;
    // The name under the tile (see resetFileName).
    std::string showName;
    // The extension in lower case; "" when there is none.
    std::string fileType;
    std::filesystem::path filePath;

    // Names longer than this many characters are shortened under the tile.
    static constexpr size_t kShowNameCharacters = 10;

    // The message of a chosen file, with a fresh id that `inUse` does not know.
    static FileMessage fromPath(const std::filesystem::path& path, const std::function<bool(std::string_view)>& inUse);
    // (whole seconds since 1970 modulo 10000) followed by a random number below 10000, both without
    // leading zeros; drawn again while `inUse` knows it.
    static std::string generateFileID(const std::function<bool(std::string_view)>& inUse);
    // The name itself when it has at most kShowNameCharacters characters, else its first ones and
    // "..."; cut between UTF-8 characters, never inside one.
    static std::string resetFileName(std::string_view name);
    // The extension after the last '.', in lower case; "" for none (a leading dot starts no extension).
    static std::string fileTypeOf(std::string_view name);
    // The tile's category of an extension: "image", "video", "music", "excel", "word", "ppt", "pdf",
    // "txt", "zip" or "unknown".
    static std::string category(std::string_view fileType);
};

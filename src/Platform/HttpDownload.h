#pragma once

#include "Utils/Error.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// A response body that HttpClient streamed into a hidden scratch file of the folder it was asked to
// store into. Whoever holds it names it with place(); a download that is never placed leaves nothing
// behind, so no partial file ever stands under a real name.
class HttpDownloadedFile {
public:
    explicit HttpDownloadedFile(std::filesystem::path scratch) : scratch_(std::move(scratch)) {}
    // Removes the scratch file unless it was placed.
    ~HttpDownloadedFile();
    HttpDownloadedFile(HttpDownloadedFile&& other) noexcept;
    HttpDownloadedFile& operator=(HttpDownloadedFile&& other) noexcept;
    HttpDownloadedFile(const HttpDownloadedFile&) = delete;
    HttpDownloadedFile& operator=(const HttpDownloadedFile&) = delete;

    const std::filesystem::path& scratchPath() const { return scratch_; }
    // Renames the body to `target` (in the same folder) unless something holds that name already.
    // Nullopt when placed, else the POSIX error (EEXIST: the name is taken; the body stays unplaced).
    std::optional<Error> place(const std::filesystem::path& target);

private:
    std::filesystem::path scratch_;  // empty once placed or moved from
};

// How one download ended.
struct HttpDownloadResult {
    // The body, when the transfer completed with a 2xx status.
    std::optional<HttpDownloadedFile> file;
    // The HTTP status; 0 when no response came.
    long status = 0;
    // Why there is no file; nullopt on success. Domains: HttpClient's, curl's, POSIX.
    std::optional<Error> error;
    uint64_t bytes = 0;
};

#pragma once

#include "WebServer/HttpError.h"

#include <cstdint>
#include <span>
#include <string>

// A file created with an unpredictable name (mkstemp, mode 0600), by default in the system's temporary
// folder, written in pieces. Unless its path is released to a new owner, destruction closes and deletes it.
class HttpServerTemporaryFile {
public:
    HttpServerTemporaryFile() = default;
    ~HttpServerTemporaryFile();
    HttpServerTemporaryFile(const HttpServerTemporaryFile&) = delete;
    HttpServerTemporaryFile& operator=(const HttpServerTemporaryFile&) = delete;

    // Where create() makes the file: `folder` (empty: the system's temporary folder) and the fixed start
    // of its name. A caller that renames the file into place picks a folder on the target's filesystem.
    void setLocation(std::string folder, std::string namePrefix);
    // Creates a fresh file; any earlier one is deleted first.
    bool create(HttpError* error);
    bool write(std::span<const uint8_t> data, HttpError* error);
    bool close(HttpError* error);
    bool isOpen() const { return fd_ != -1; }
    const std::string& path() const { return path_; }
    // Hands the (closed) file over: it is no longer deleted here.
    std::string releasePath();

private:
    void discard();

    std::string folder_;
    std::string namePrefix_ = "HttpServer-";
    std::string path_;
    int fd_ = -1;
};

#pragma once

#include "WebServer/HttpError.h"

#include <cstdint>
#include <span>
#include <string>

// A file created with an unpredictable name in the system's temporary folder (mkstemp, mode 0600),
// written in pieces. Unless its path is released to a new owner, destruction closes and deletes it.
class HttpServerTemporaryFile {
public:
    HttpServerTemporaryFile() = default;
    ~HttpServerTemporaryFile();
    HttpServerTemporaryFile(const HttpServerTemporaryFile&) = delete;
    HttpServerTemporaryFile& operator=(const HttpServerTemporaryFile&) = delete;

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

    std::string path_;
    int fd_ = -1;
};

#pragma once

#include "WebServer/HttpError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// A stretch of an open file, sent from the file straight to the socket.
struct HttpServerFileRegion {
    int file = -1;
    uint64_t offset = 0;
    uint64_t length = 0;
};

// A pull stream of body pieces. readData gives the next piece, an empty piece at the end and
// nullopt (with the error set) on failure.
class HttpServerBodyReader {
public:
    using Piece = std::optional<std::vector<uint8_t>>;
    using ReadCompletion = std::function<void(Piece piece, const HttpError& error)>;

    virtual ~HttpServerBodyReader() = default;

    virtual bool open(HttpError* error) = 0;
    virtual Piece readData(HttpError* error) = 0;
    virtual void close() = 0;

    // Readers whose pieces arrive later answer through the completion, possibly on another thread.
    virtual bool hasAsyncRead() const { return false; }
    virtual void asyncReadData(ReadCompletion completion)
    {
        HttpError error;
        Piece piece = readData(&error);
        completion(std::move(piece), error);
    }
};

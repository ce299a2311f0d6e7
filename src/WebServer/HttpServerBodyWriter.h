#pragma once

#include "WebServer/HttpError.h"

#include <cstdint>
#include <span>

// A sink for a request body pushed in pieces: opened once, written any number of times, closed once.
// Each call reports failure by returning false and filling *error (error may be null).
class HttpServerBodyWriter {
public:
    virtual ~HttpServerBodyWriter() = default;
    virtual bool open(HttpError* error) = 0;
    virtual bool writeData(std::span<const uint8_t> data, HttpError* error) = 0;
    virtual bool close(HttpError* error) = 0;
};

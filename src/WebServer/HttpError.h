#pragma once

#include "Utils/Error.h"

#include <utility>

// An error of the HTTP server: the library's Error, with the server's domains.
struct HttpError : Error {
    static constexpr const char* kServerDomain = "HttpServerErrorDomain";
    static constexpr const char* kZlibDomain = "ZlibErrorDomain";

    // A POSIX error for the given errno value, described by the system's text.
    static HttpError posix(int errorNumber);
    // Fills *target when the caller asked for the error (target may be null).
    static void assign(HttpError* target, HttpError error)
    {
        if (target != nullptr) {
            *target = std::move(error);
        }
    }
};

#pragma once

#include <string>
#include <utility>

// An error value of the HTTP server: its domain, a code within that domain and a readable text.
struct HttpError {
    static constexpr const char* kServerDomain = "HttpServerErrorDomain";
    static constexpr const char* kZlibDomain = "ZlibErrorDomain";
    static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";

    std::string domain;
    long code = 0;
    std::string description;

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

#pragma once

#include "Utils/Error.h"

#include <string>

// An error value of NetSocket: the library's Error, in its own domain with the codes below or the
// POSIX domain with errno, and what the socket adds for a failed call.
struct NetSocketError : Error {
    static constexpr const char* kDomain = "NetSocketErrorDomain";

    enum Code : long {
        NoError = 0,
        BadConfigError = 1,
        BadParamError = 2,
        ConnectTimeoutError = 3,
        ReadTimeoutError = 4,
        WriteTimeoutError = 5,
        ReadMaxedOutError = 6,
        ClosedError = 7,
        OtherError = 8,
    };

    // For system-call failures: which call failed ("Error in read() function").
    std::string failureReason;
    // Where the meaning of the code is found, for TLS failures.
    std::string recoverySuggestion;

    static NetSocketError badConfig(std::string message) { return {kDomain, BadConfigError, std::move(message), {}, {}}; }
    static NetSocketError badParam(std::string message) { return {kDomain, BadParamError, std::move(message), {}, {}}; }
    static NetSocketError other(std::string message) { return {kDomain, OtherError, std::move(message), {}, {}}; }
    static NetSocketError connectTimeout();
    static NetSocketError readTimeout();
    static NetSocketError writeTimeout();
    static NetSocketError readMaxedOut();
    static NetSocketError connectionClosed();
    // The failed system call's errno, described by the system's text, with `reason` naming the call.
    static NetSocketError posix(int errorNumber, std::string reason);
    // The same for the current errno, without a reason.
    static NetSocketError errnoError();

    // Fills *target when the caller asked for the error (target may be null).
    static void assign(NetSocketError* target, NetSocketError error)
    {
        if (target != nullptr)
            *target = std::move(error);
    }
};

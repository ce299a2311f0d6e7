#pragma once

#include <string>
#include <string_view>

// The library's error as a value, where an error crosses a folder's boundary: the domain that gives its
// codes their meaning, a code within that domain, and a text for people. Folders with error domains of
// their own (the HTTP server's, the socket's) extend it with their domains' names and factories.
struct Error {
    // errno values.
    static constexpr const char* kPosixDomain = "NSPOSIXErrorDomain";

    std::string domain;
    long code = 0;
    std::string description;

    // The errno value's error, described by the system's text; with `context`, "context: text".
    static Error posix(int errorNumber, std::string_view context = {});
    // True for that errno value.
    bool isPosix(int errorNumber) const { return domain == kPosixDomain && code == errorNumber; }
    bool operator==(const Error&) const = default;
};

#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The two date forms of HTTP and WebDAV, always in UTC. Pure; any thread.
class HttpServerDates {
public:
    using Date = std::chrono::system_clock::time_point;

    // "Thu, 01 Jan 1970 00:00:00 GMT"
    static std::string formatRFC822Date(Date date);
    static std::optional<Date> parseRFC822Date(std::string_view text);
    // "1970-01-01T00:00:00+00:00"
    static std::string formatISO8601Date(Date date);
    // The same from seconds since the epoch, which reach file times past 2262, where a Date ends.
    static std::string formatRFC822Date(int64_t seconds);
    static std::string formatISO8601Date(int64_t seconds);
    static std::optional<Date> parseISO8601Date(std::string_view text);
};

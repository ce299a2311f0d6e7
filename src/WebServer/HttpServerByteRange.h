#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// A requested byte range as (location, length): (kNotFound, 0) none, (n, kNotFound) from byte n to the
// end, (kNotFound, n) the last n bytes, otherwise length bytes from location.
struct HttpServerByteRange {
    static constexpr uint64_t kNotFound = UINT64_MAX;

    uint64_t location = kNotFound;
    uint64_t length = 0;

    bool isSet() const { return location != kNotFound || length > 0; }

    // One range of a "Range" header ("bytes=0-99", "bytes=500-", "bytes=-500"). Numbers are digits
    // only and at most 2^63-1; anything else, several ranges or an end before the start give nullopt.
    static std::optional<HttpServerByteRange> parse(std::string_view headerValue);

    struct Span {
        uint64_t offset = 0;
        uint64_t length = 0;
    };
    // The bytes of a file of fileSize that this range selects, clipped to the file; nullopt when none.
    std::optional<Span> resolve(uint64_t fileSize) const;
};

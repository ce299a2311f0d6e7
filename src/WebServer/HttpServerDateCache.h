#pragma once

#include <array>
#include <cstdint>
#include <string_view>

// The RFC 822 and ISO 8601 texts of whole seconds, as HttpServerFunctions writes them, each second
// formatted once while it stays in a small table: a folder listing writes two dates per entry, and
// the entries of one folder mostly share a few seconds. Each thread keeps its own tables, so a
// look-up takes no lock and no thread sees another's text half written.
class HttpServerDateCache {
public:
    // A date text held by value, so it outlives the table slot it came from.
    class Text {
    public:
        Text() = default;
        // Cut at the capacity, which no date of a representable year reaches.
        explicit Text(std::string_view text);
        std::string_view view() const { return {bytes_.data(), size_}; }

    private:
        std::array<char, 64> bytes_ {};
        uint8_t size_ = 0;
    };

    // `seconds` since the Unix epoch.
    static Text rfc822(int64_t seconds);
    static Text iso8601(int64_t seconds);
};

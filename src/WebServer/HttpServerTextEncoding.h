#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Bodies in the few charsets a client declares, turned into UTF-8 text. Pure; any thread.
class HttpServerTextEncoding {
public:
    enum class TextEncoding { UTF8, ASCII, Latin1 };

    // UTF-8 for a missing or unknown charset name.
    static TextEncoding encodingForCharset(std::optional<std::string_view> charset);
    // The bytes as UTF-8 text; nullopt when they are not valid in the encoding.
    static std::optional<std::string> decodeText(std::span<const uint8_t> bytes, TextEncoding encoding);
    static bool isValidUTF8(std::string_view text);
};

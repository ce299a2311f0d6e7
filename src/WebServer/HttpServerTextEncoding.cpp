#include "WebServer/HttpServerTextEncoding.h"

#include "WebServer/HttpServerASCII.h"

#include <algorithm>

HttpServerTextEncoding::TextEncoding HttpServerTextEncoding::encodingForCharset(std::optional<std::string_view> charset)
{
    if (!charset) {
        return TextEncoding::UTF8;
    }
    const std::string name = HttpServerASCII::lowered(*charset);
    if (name == "us-ascii" || name == "ascii") {
        return TextEncoding::ASCII;
    }
    if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1") {
        return TextEncoding::Latin1;
    }
    return TextEncoding::UTF8;
}

bool HttpServerTextEncoding::isValidUTF8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        uint32_t codePoint = 0;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
            codePoint = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            codePoint = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            codePoint = c & 0x07;
        } else {
            return false;
        }
        if (extra >= text.size() - i) {
            return false;
        }
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((extra == 2 && (codePoint < 0x800 || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) ||
            (extra == 3 && (codePoint < 0x10000 || codePoint > 0x10FFFF))) {
            return false;
        }
        i += extra + 1;
    }
    return true;
}

std::optional<std::string> HttpServerTextEncoding::decodeText(std::span<const uint8_t> bytes, TextEncoding encoding)
{
    std::string text;
    switch (encoding) {
    case TextEncoding::UTF8:
        text.assign(bytes.begin(), bytes.end());
        return isValidUTF8(text) ? std::optional<std::string>(std::move(text)) : std::nullopt;
    case TextEncoding::ASCII:
        if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b >= 0x80; })) {
            return std::nullopt;
        }
        return std::string(bytes.begin(), bytes.end());
    case TextEncoding::Latin1:
        for (const uint8_t b : bytes) {
            if (b < 0x80) {
                text += static_cast<char>(b);
            } else {
                text += static_cast<char>(0xC0 | (b >> 6));
                text += static_cast<char>(0x80 | (b & 0x3F));
            }
        }
        return text;
    }
    return std::nullopt;
}

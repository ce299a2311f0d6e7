#include "WebServer/HttpServerURLCoding.h"

#include "Utils/Log.h"
#include "WebServer/HttpServerTextEncoding.h"

#include <algorithm>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string HttpServerURLCoding::percentEscape(std::string_view text, std::string_view keptPunctuation)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const bool alphanumeric = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (alphanumeric || keptPunctuation.find(c) != std::string_view::npos) {
            result += c;
        } else {
            result += '%';
            result += kHex[byte >> 4];
            result += kHex[byte & 0x0F];
        }
    }
    return result;
}

// The unreserved characters stay, and the sub-delimiters that have no meaning in a path or query.
std::string HttpServerURLCoding::escapeURLString(std::string_view text)
{
    return percentEscape(text, "-._~!$'()*,;");
}

std::optional<std::string> HttpServerURLCoding::unescapeURLString(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (text.size() - i < 3) {
            return std::nullopt;
        }
        const int high = hexValue(text[i + 1]);
        const int low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    if (!HttpServerTextEncoding::isValidUTF8(result)) {
        return std::nullopt;
    }
    return result;
}

std::map<std::string, std::string> HttpServerURLCoding::parseURLEncodedForm(std::string_view text)
{
    std::map<std::string, std::string> form;
    const auto decode = [](std::string_view piece) {
        std::string spaced(piece);
        std::replace(spaced.begin(), spaced.end(), '+', ' ');
        return unescapeURLString(spaced);
    };
    size_t pos = 0;
    while (true) {
        const size_t equals = std::min(text.find('=', pos), text.size());
        if (equals == pos) {
            break;
        }
        const std::string_view name = text.substr(pos, equals - pos);
        if (equals == text.size()) {
            break;
        }
        const size_t ampersand = std::min(text.find('&', equals + 1), text.size());
        const std::string_view value = text.substr(equals + 1, ampersand - equals - 1);
        const std::optional<std::string> decodedName = decode(name);
        const std::optional<std::string> decodedValue = decode(value);
        if (decodedName && decodedValue) {
            form[*decodedName] = *decodedValue;
        } else {
            PLOG("Failed parsing URL encoded form for key \"%.*s\" and value \"%.*s\"", static_cast<int>(name.size()),
                 name.data(), static_cast<int>(value.size()), value.data());
        }
        if (ampersand == text.size()) {
            break;
        }
        pos = ampersand + 1;
    }
    return form;
}

#include "WebServer/HttpServerFunctions.h"

#include "Utils/Log.h"
#include "WebServer/HttpServerASCII.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string HttpServerFunctions::normalizeHeaderValue(std::string_view value)
{
    const size_t semicolon = value.find(';');
    if (semicolon == std::string_view::npos) {
        return HttpServerASCII::lowered(value);
    }
    return HttpServerASCII::lowered(value.substr(0, semicolon)) + std::string(value.substr(semicolon));
}

std::string HttpServerFunctions::truncateHeaderValue(std::string_view value)
{
    return std::string(value.substr(0, value.find(';')));
}

std::optional<std::string> HttpServerFunctions::extractHeaderParameter(std::string_view value, std::string_view name)
{
    if (name.empty()) {
        return std::nullopt;
    }
    const std::string key = HttpServerASCII::lowered(name) + "=";
    const std::string text = HttpServerASCII::lowered(value);
    for (size_t found = text.find(key, 1); found != std::string::npos; found = text.find(key, found + 1)) {
        size_t before = found;
        while (before > 0 && (text[before - 1] == ' ' || text[before - 1] == '\t')) {
            --before;
        }
        if (before == 0 || text[before - 1] != ';') {
            continue;  // the tail of a longer name, or not a parameter at all
        }
        const std::string_view rest = value.substr(found + key.size());
        if (!rest.empty() && rest[0] == '"') {
            const size_t close = rest.find('"', 1);
            if (close == std::string_view::npos || close == 1) {
                return std::nullopt;
            }
            return std::string(rest.substr(1, close - 1));
        }
        size_t end = 0;
        while (end < rest.size() && !isBlank(rest[end]) && rest[end] != ';') {
            ++end;
        }
        return end == 0 ? std::nullopt : std::optional<std::string>(rest.substr(0, end));
    }
    return std::nullopt;
}

bool HttpServerFunctions::isTextContentType(std::string_view type)
{
    return type.starts_with("text/") || type.starts_with("application/json") || type.starts_with("application/xml");
}

std::string HttpServerFunctions::describeBodyData(std::span<const uint8_t> bytes, std::string_view contentType)
{
    if (isTextContentType(contentType)) {
        const std::optional<std::string> charset = extractHeaderParameter(contentType, "charset");
        if (std::optional<std::string> text = decodeText(bytes, encodingForCharset(charset))) {
            return *text;
        }
    }
    return "<" + std::to_string(bytes.size()) + " bytes>";
}

std::string HttpServerFunctions::md5HexDigest(std::string_view text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr) != 1) {
        PLOG("MD5 digest failed");
        return {};
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 0x0F];
    }
    return hex;
}

std::string HttpServerFunctions::normalizeRequestPath(std::string_view path)
{
    std::vector<std::string_view> kept;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string_view piece = path.substr(start, slash - start);
        if (piece == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (!piece.empty() && piece != ".") {
            kept.push_back(piece);
        }
        start = slash + 1;
    }
    std::string result = path.starts_with('/') ? "/" : "";
    for (size_t i = 0; i < kept.size(); ++i) {
        result += (i == 0 ? "" : "/");
        result += kept[i];
    }
    return result;
}

std::string HttpServerFunctions::escapeHTML(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        case '"': result += "&quot;"; break;
        case '\'': result += "&#39;"; break;
        default: result += c;
        }
    }
    return result;
}

namespace {

// The characters of a token (RFC 9110, 5.6.2): visible ASCII but the separators. Every head field's
// name is checked, so a table rather than a search per character.
constexpr std::array<bool, 256> kTokenCharacters = [] {
    std::array<bool, 256> table {};
    for (int c = 0x21; c < 0x7F; ++c)
        table[static_cast<size_t>(c)] = std::string_view("()<>@,;:\\\"/[]?={}").find(static_cast<char>(c)) == std::string_view::npos;
    return table;
}();

}  // namespace

bool HttpServerFunctions::isValidHeaderName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return kTokenCharacters[static_cast<unsigned char>(c)]; });
}

bool HttpServerFunctions::isValidHeaderValue(std::string_view value)
{
    return std::none_of(value.begin(), value.end(), [](char c) { return c == '\r' || c == '\n' || c == '\0'; });
}

std::string_view HttpServerFunctions::trimBlanks(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

std::optional<uint64_t> HttpServerFunctions::parseDecimal(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const auto digit = static_cast<uint64_t>(c - '0');
        if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

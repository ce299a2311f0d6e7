#include "WebServer/HttpServerFunctions.h"

#include "Utils/Log.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <sstream>
#include <vector>

namespace {

constexpr std::array<const char*, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kOctetStream = "application/octet-stream";

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text)
{
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(), lower);
    return result;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int64_t secondsOf(HttpServerFunctions::Date date)
{
    return std::chrono::floor<std::chrono::seconds>(date.time_since_epoch()).count();
}

std::tm utcFields(int64_t seconds)
{
    const time_t time = static_cast<time_t>(seconds);
    std::tm fields{};
    gmtime_r(&time, &fields);
    return fields;
}

// Reads exactly `count` decimal digits at `pos`.
bool readDigits(std::string_view text, size_t& pos, size_t count, int& value)
{
    if (pos + count > text.size()) {
        return false;
    }
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        const char c = text[pos + i];
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    pos += count;
    return true;
}

bool readLiteral(std::string_view text, size_t& pos, std::string_view literal)
{
    if (text.substr(pos, literal.size()) != literal) {
        return false;
    }
    pos += literal.size();
    return true;
}

// "HH:MM:SS", the time of day both date forms end with.
bool readTimeOfDay(std::string_view text, size_t& pos, int& hour, int& minute, int& second)
{
    return readDigits(text, pos, 2, hour) && readLiteral(text, pos, ":") && readDigits(text, pos, 2, minute) &&
           readLiteral(text, pos, ":") && readDigits(text, pos, 2, second);
}

// Index of a three-letter name in a table, compared ignoring case.
template <size_t N>
std::optional<int> readName(std::string_view text, size_t& pos, const std::array<const char*, N>& names)
{
    for (size_t i = 0; i < N; ++i) {
        if (pos + 3 <= text.size() && equalsIgnoringCase(text.substr(pos, 3), names[i])) {
            pos += 3;
            return static_cast<int>(i);
        }
    }
    return std::nullopt;
}

// The date of the fields, refused when they name no real time (31 Feb, 25:00).
std::optional<HttpServerFunctions::Date> dateFromFields(int year, int month, int day, int hour, int minute, int second)
{
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    const time_t time = timegm(&fields);
    std::tm check{};
    gmtime_r(&time, &check);
    if (check.tm_year != year - 1900 || check.tm_mon != month || check.tm_mday != day || check.tm_hour != hour ||
        check.tm_min != minute || check.tm_sec != second) {
        return std::nullopt;
    }
    return HttpServerFunctions::Date(std::chrono::seconds(time));
}

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

using MimeTable = std::map<std::string, std::string>;

// The system's list of media types ("type ext ext ..."); the first type that names an extension wins.
MimeTable loadSystemMimeTypes()
{
    MimeTable table;
    std::ifstream file("/etc/mime.types");
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        std::istringstream fields(line);
        std::string type;
        std::string extension;
        fields >> type;
        while (fields >> extension) {
            table.emplace(lowered(extension), type);
        }
    }
    return table;
}

// Common types for a system without the media types list.
const MimeTable& fallbackMimeTypes()
{
    static const MimeTable table = {
        {"aac", "audio/aac"},     {"gif", "image/gif"},        {"htm", "text/html"},         {"html", "text/html"},
        {"jpeg", "image/jpeg"},   {"jpg", "image/jpeg"},       {"js", "text/javascript"},    {"json", "application/json"},
        {"m4a", "audio/mp4"},     {"m4v", "video/mp4"},        {"mov", "video/quicktime"},   {"mp3", "audio/mpeg"},
        {"mp4", "video/mp4"},     {"pdf", "application/pdf"},  {"png", "image/png"},         {"svg", "image/svg+xml"},
        {"txt", "text/plain"},    {"wav", "audio/wav"},        {"xml", "application/xml"},   {"zip", "application/zip"},
    };
    return table;
}

std::optional<std::string> lookUp(const MimeTable& table, const std::string& key)
{
    const auto found = table.find(key);
    return found == table.end() ? std::nullopt : std::optional<std::string>(found->second);
}

// The interface of the IPv4 default route, from the kernel's routing table.
std::optional<std::string> defaultRouteInterface()
{
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line);  // column titles
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name;
        std::string destination;
        if (fields >> name >> destination && destination == "00000000") {
            return name;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string HttpServerFunctions::formatRFC822Date(Date date)
{
    return formatRFC822Date(secondsOf(date));
}

std::string HttpServerFunctions::formatRFC822Date(int64_t seconds)
{
    const std::tm fields = utcFields(seconds);
    char text[64];
    std::snprintf(text, sizeof(text), "%s, %02d %s %04d %02d:%02d:%02d GMT", kWeekdays[static_cast<size_t>(fields.tm_wday)],
                  fields.tm_mday, kMonths[static_cast<size_t>(fields.tm_mon)], fields.tm_year + 1900, fields.tm_hour,
                  fields.tm_min, fields.tm_sec);
    return text;
}

std::optional<HttpServerFunctions::Date> HttpServerFunctions::parseRFC822Date(std::string_view text)
{
    size_t pos = 0;
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readName(text, pos, kWeekdays) || !readLiteral(text, pos, ", ") || !readDigits(text, pos, 2, day) ||
        !readLiteral(text, pos, " ")) {
        return std::nullopt;
    }
    const std::optional<int> month = readName(text, pos, kMonths);
    if (!month || !readLiteral(text, pos, " ") || !readDigits(text, pos, 4, year) || !readLiteral(text, pos, " ") ||
        !readTimeOfDay(text, pos, hour, minute, second) || !readLiteral(text, pos, " GMT") || pos != text.size()) {
        return std::nullopt;
    }
    return dateFromFields(year, *month, day, hour, minute, second);
}

std::string HttpServerFunctions::formatISO8601Date(Date date)
{
    return formatISO8601Date(secondsOf(date));
}

std::string HttpServerFunctions::formatISO8601Date(int64_t seconds)
{
    const std::tm fields = utcFields(seconds);
    char text[64];
    std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d+00:00", fields.tm_year + 1900, fields.tm_mon + 1,
                  fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
    return text;
}

std::optional<HttpServerFunctions::Date> HttpServerFunctions::parseISO8601Date(std::string_view text)
{
    size_t pos = 0;
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!readDigits(text, pos, 4, year) || !readLiteral(text, pos, "-") || !readDigits(text, pos, 2, month) ||
        !readLiteral(text, pos, "-") || !readDigits(text, pos, 2, day) || !readLiteral(text, pos, "T") ||
        !readTimeOfDay(text, pos, hour, minute, second) || !readLiteral(text, pos, "+00:00") || pos != text.size()) {
        return std::nullopt;
    }
    return dateFromFields(year, month - 1, day, hour, minute, second);
}

std::string HttpServerFunctions::normalizeHeaderValue(std::string_view value)
{
    const size_t semicolon = value.find(';');
    if (semicolon == std::string_view::npos) {
        return lowered(value);
    }
    return lowered(value.substr(0, semicolon)) + std::string(value.substr(semicolon));
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
    const std::string key = lowered(name) + "=";
    const std::string text = lowered(value);
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

HttpServerFunctions::TextEncoding HttpServerFunctions::encodingForCharset(std::optional<std::string_view> charset)
{
    if (!charset) {
        return TextEncoding::UTF8;
    }
    const std::string name = lowered(*charset);
    if (name == "us-ascii" || name == "ascii") {
        return TextEncoding::ASCII;
    }
    if (name == "iso-8859-1" || name == "latin1" || name == "iso_8859-1") {
        return TextEncoding::Latin1;
    }
    return TextEncoding::UTF8;
}

bool HttpServerFunctions::isValidUTF8(std::string_view text)
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

std::optional<std::string> HttpServerFunctions::decodeText(std::span<const uint8_t> bytes, TextEncoding encoding)
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

std::string HttpServerFunctions::mimeTypeForExtension(std::string_view extension, const HttpMimeOverrides* overrides)
{
    const std::string key = lowered(extension);
    if (key.empty()) {
        return kOctetStream;
    }
    static const MimeTable builtIn = {{"css", "text/css"}};
    static const MimeTable system = loadSystemMimeTypes();
    for (const MimeTable* table : {overrides, &builtIn, &system, &fallbackMimeTypes()}) {
        if (table != nullptr) {
            if (std::optional<std::string> type = lookUp(*table, key)) {
                return *type;
            }
        }
    }
    return kOctetStream;
}

std::string HttpServerFunctions::percentEscape(std::string_view text, std::string_view keptPunctuation)
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
std::string HttpServerFunctions::escapeURLString(std::string_view text)
{
    return percentEscape(text, "-._~!$'()*,;");
}

std::optional<std::string> HttpServerFunctions::unescapeURLString(std::string_view text)
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
    if (!isValidUTF8(result)) {
        return std::nullopt;
    }
    return result;
}

std::map<std::string, std::string> HttpServerFunctions::parseURLEncodedForm(std::string_view text)
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

std::string HttpServerFunctions::socketAddressText(const sockaddr* address, socklen_t length, bool includesPort)
{
    if (address == nullptr) {
        return {};
    }
    char host[1025];
    char service[32];
    if (getnameinfo(address, length, host, sizeof(host), service, sizeof(service), NI_NUMERICHOST | NI_NUMERICSERV | NI_NOFQDN) != 0) {
        return {};
    }
    return includesPort ? std::string(host) + ":" + service : std::string(host);
}

std::optional<std::string> HttpServerFunctions::primaryNetworkAddress(bool useIPv6)
{
    const std::string interface = defaultRouteInterface().value_or("lo");
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        PLOG_ERRNO("getifaddrs");
        return std::nullopt;
    }
    const int family = useIPv6 ? AF_INET6 : AF_INET;
    std::optional<std::string> result;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && interface == entry->ifa_name && (entry->ifa_flags & IFF_UP) != 0 &&
            entry->ifa_addr->sa_family == family) {
            const socklen_t length = useIPv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
            result = socketAddressText(entry->ifa_addr, length, false);
            break;
        }
    }
    freeifaddrs(list);
    return result;
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

bool HttpServerFunctions::isValidHeaderName(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x7F && std::strchr("()<>@,;:\\\"/[]?={}", c) == nullptr;
    });
}

bool HttpServerFunctions::isValidHeaderValue(std::string_view value)
{
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
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

#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/socket.h>

using HttpMimeOverrides = std::map<std::string, std::string>;

// Helpers shared by the whole HTTP server. All are pure and safe to call from any thread.
class HttpServerFunctions {
public:
    using Date = std::chrono::system_clock::time_point;
    enum class TextEncoding { UTF8, ASCII, Latin1 };

    // "Thu, 01 Jan 1970 00:00:00 GMT"
    static std::string formatRFC822Date(Date date);
    static std::optional<Date> parseRFC822Date(std::string_view text);
    // "1970-01-01T00:00:00+00:00"
    static std::string formatISO8601Date(Date date);
    // The same from seconds since the epoch, which reach file times past 2262, where a Date ends.
    static std::string formatRFC822Date(int64_t seconds);
    static std::string formatISO8601Date(int64_t seconds);
    static std::optional<Date> parseISO8601Date(std::string_view text);

    // The part before the first ";" in lower case, the parameters unchanged.
    static std::string normalizeHeaderValue(std::string_view value);
    // The part before the first ";".
    static std::string truncateHeaderValue(std::string_view value);
    // The value of the parameter `name` (case-insensitive) of a header value such as
    // "multipart/form-data; boundary=XyZ"; quoted values lose their quotes. A name matches only as a
    // whole parameter name after a ";", so "name" is not found inside "filename".
    static std::optional<std::string> extractHeaderParameter(std::string_view value, std::string_view name);

    // UTF-8 for a missing or unknown charset name.
    static TextEncoding encodingForCharset(std::optional<std::string_view> charset);
    // The bytes as UTF-8 text; nullopt when they are not valid in the encoding.
    static std::optional<std::string> decodeText(std::span<const uint8_t> bytes, TextEncoding encoding);
    static bool isValidUTF8(std::string_view text);
    static bool isTextContentType(std::string_view type);
    // Text bodies as their text, anything else as "<N bytes>".
    static std::string describeBodyData(std::span<const uint8_t> bytes, std::string_view contentType);

    // Overrides first, then the system's media types list; "application/octet-stream" when unknown.
    static std::string mimeTypeForExtension(std::string_view extension, const HttpMimeOverrides* overrides = nullptr);

    // Percent-escapes every byte but ASCII letters, digits and the given punctuation.
    static std::string percentEscape(std::string_view text, std::string_view keptPunctuation);
    // Percent-escapes UTF-8 text for use in a URL, reserved characters (":@/?&=+" among them) included.
    static std::string escapeURLString(std::string_view text);
    // Decodes every percent escape; nullopt for a broken escape or a result that is not UTF-8.
    static std::optional<std::string> unescapeURLString(std::string_view text);
    // "a=1&b=x+y%21" as names to values; pairs that do not decode are logged and skipped.
    static std::map<std::string, std::string> parseURLEncodedForm(std::string_view text);

    // Numeric host, and ":port" when asked; empty when the address cannot be converted.
    static std::string socketAddressText(const sockaddr* address, socklen_t length, bool includesPort);
    // Numeric address of the interface that carries the default route (loopback when none).
    static std::optional<std::string> primaryNetworkAddress(bool useIPv6);

    // MD5 of the UTF-8 bytes as 32 lower-case hex digits.
    static std::string md5HexDigest(std::string_view text);
    // Resolves ".", ".." and empty pieces; never climbs above the start.
    static std::string normalizeRequestPath(std::string_view path);

    // Text safe inside HTML: & < > " ' become entities.
    static std::string escapeHTML(std::string_view text);
    // The text without leading and trailing spaces and tabs.
    static std::string_view trimBlanks(std::string_view text);
    // A plain decimal number: digits only, at least one, at most 2^63-1 (so sums of two such
    // numbers never wrap); nullopt otherwise.
    static std::optional<uint64_t> parseDecimal(std::string_view text);
    // A header name must be a token; a value must carry no CR, LF or NUL (they would split the head).
    static bool isValidHeaderName(std::string_view name);
    static bool isValidHeaderValue(std::string_view value);
};

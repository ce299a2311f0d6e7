#pragma once

#include "WebServer/HttpServerAddresses.h"
#include "WebServer/HttpServerDates.h"
#include "WebServer/HttpServerMimeTypes.h"
#include "WebServer/HttpServerTextEncoding.h"
#include "WebServer/HttpServerURLCoding.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Helpers shared by the whole HTTP server. All are pure and safe to call from any thread. The dates,
// URL coding, media types, addresses and text encodings live in classes of their own; deriving from
// them keeps every helper reachable as HttpServerFunctions::name, the one name callers use.
class HttpServerFunctions : public HttpServerDates,
                            public HttpServerTextEncoding,
                            public HttpServerMimeTypes,
                            public HttpServerURLCoding,
                            public HttpServerAddresses {
public:
    // The part before the first ";" in lower case, the parameters unchanged.
    static std::string normalizeHeaderValue(std::string_view value);
    // The part before the first ";".
    static std::string truncateHeaderValue(std::string_view value);
    // The value of the parameter `name` (case-insensitive) of a header value such as
    // "multipart/form-data; boundary=XyZ"; quoted values lose their quotes. A name matches only as a
    // whole parameter name after a ";", so "name" is not found inside "filename".
    static std::optional<std::string> extractHeaderParameter(std::string_view value, std::string_view name);

    static bool isTextContentType(std::string_view type);
    // Text bodies as their text, anything else as "<N bytes>".
    static std::string describeBodyData(std::span<const uint8_t> bytes, std::string_view contentType);

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

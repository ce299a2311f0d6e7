#include "WebServer/HttpServerByteRange.h"

#include "WebServer/HttpServerFunctions.h"

#include <algorithm>
#include <string>

std::optional<HttpServerByteRange> HttpServerByteRange::parse(std::string_view headerValue)
{
    const std::string normalized = HttpServerFunctions::normalizeHeaderValue(HttpServerFunctions::trimBlanks(headerValue));
    constexpr std::string_view kPrefix = "bytes=";
    if (!std::string_view(normalized).starts_with(kPrefix)) {
        return std::nullopt;
    }
    const std::string_view rangeText = HttpServerFunctions::trimBlanks(std::string_view(normalized).substr(kPrefix.size()));
    const size_t dash = rangeText.find('-');
    if (rangeText.find(',') != std::string_view::npos || dash == std::string_view::npos ||
        rangeText.find('-', dash + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view startText = HttpServerFunctions::trimBlanks(rangeText.substr(0, dash));
    const std::string_view endText = HttpServerFunctions::trimBlanks(rangeText.substr(dash + 1));
    const std::optional<uint64_t> start = HttpServerFunctions::parseDecimal(startText);
    const std::optional<uint64_t> end = HttpServerFunctions::parseDecimal(endText);
    if (!startText.empty() && !start) {
        return std::nullopt;
    }
    if (!endText.empty() && !end) {
        return std::nullopt;
    }
    if (start && end) {
        // An end below the start still asks for the bytes from the start on.
        if (*end < *start) {
            return HttpServerByteRange{*start, kNotFound};
        }
        return HttpServerByteRange{*start, *end - *start + 1};
    }
    if (start) {
        return HttpServerByteRange{*start, kNotFound};
    }
    if (end && *end > 0) {
        return HttpServerByteRange{kNotFound, *end};
    }
    return std::nullopt;
}

std::optional<HttpServerByteRange::Span> HttpServerByteRange::resolve(uint64_t fileSize) const
{
    Span span;
    if (location != kNotFound) {
        span.offset = std::min(location, fileSize);
        span.length = std::min(length, fileSize - span.offset);
    } else {
        span.length = std::min(length, fileSize);
        span.offset = fileSize - span.length;
    }
    if (span.length == 0) {
        return std::nullopt;
    }
    return span;
}

#pragma once

#include "WebServer/HttpServerRequest.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace RequestTestSupport {

inline std::vector<uint8_t> bytes(std::string_view text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

inline std::vector<uint8_t> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct BodyOutcome {
    bool ok = false;
    HttpError error;
};

// Drives a request the way the connection does: prepare, open, the body in pieces of pieceSize
// (0: one piece), close. Stops at the first failure, after closing the body.
inline BodyOutcome feedBody(HttpServerRequest& request, std::span<const uint8_t> body, size_t pieceSize = 0)
{
    BodyOutcome outcome;
    request.prepareForWriting();
    if (!request.performOpen(&outcome.error))
        return outcome;
    const size_t step = pieceSize == 0 ? std::max<size_t>(body.size(), 1) : pieceSize;
    for (size_t offset = 0; offset < body.size(); offset += step) {
        if (!request.performWriteData(body.subspan(offset, std::min(step, body.size() - offset)), &outcome.error)) {
            request.performClose(nullptr);
            return outcome;
        }
    }
    outcome.ok = request.performClose(&outcome.error);
    return outcome;
}

// Two pieces split at offset.
inline BodyOutcome feedSplit(HttpServerRequest& request, std::span<const uint8_t> body, size_t offset)
{
    BodyOutcome outcome;
    request.prepareForWriting();
    if (!request.performOpen(&outcome.error))
        return outcome;
    if (!request.performWriteData(body.first(offset), &outcome.error)
        || !request.performWriteData(body.subspan(offset), &outcome.error)) {
        request.performClose(nullptr);
        return outcome;
    }
    outcome.ok = request.performClose(&outcome.error);
    return outcome;
}

inline bool isPayloadTooLarge(const HttpError& error)
{
    return error.domain == HttpError::kServerDomain && error.code == 413;
}

} // namespace RequestTestSupport

// Feeds arbitrary bytes to the chunked-body parser alone, split into pieces at offsets taken from the
// input itself, and checks that it never hands on more data than it was given.
#include "WebServer/HttpServerChunkParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    // A sink that refuses now and then, so the parser's stop on a failed write is reached too.
    const uint8_t refuseAfter = data[1];
    const std::span<const uint8_t> body(data + 2, size - 2);
    size_t handedOn = 0;
    size_t calls = 0;
    HttpServerChunkParser parser([&](std::span<const uint8_t> chunk) {
        handedOn += chunk.size();
        return refuseAfter == 0 || ++calls < refuseAfter;
    });
    for (size_t offset = 0; offset < body.size(); offset += piece) {
        if (parser.append(body.subspan(offset, std::min(piece, body.size() - offset))) != HttpServerChunkParser::State::NeedMore)
            break;
    }
    if (handedOn > body.size())
        abort();
    return 0;
}

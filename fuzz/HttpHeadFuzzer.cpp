// Feeds arbitrary bytes to the request-head parser in pieces whose size comes from the input, with a
// small cap so that it is reached too; a complete head is then split into path and query, and the
// bytes after it go through the chunked-body parser.
#include "WebServer/HttpServerChunkParser.h"
#include "WebServer/HttpServerHeadParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::span<const uint8_t> input(data + 1, size - 1);
    HttpServerHeadParser parser(2048);
    for (size_t offset = 0; offset < input.size(); offset += piece) {
        if (parser.append(input.subspan(offset, std::min(piece, input.size() - offset))) != HttpServerHeadParser::State::NeedMore)
            break;
    }
    if (parser.state() != HttpServerHeadParser::State::Complete)
        return 0;
    std::string path;
    std::string query;
    HttpServerHeadParser::splitTarget(parser.target(), path, query);
    size_t received = 0;
    HttpServerChunkParser chunks([&received](std::span<const uint8_t> bytes) {
        received += bytes.size();
        return received < 65536;
    });
    chunks.append(parser.remainder());
    return 0;
}

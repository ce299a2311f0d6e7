// Feeds arbitrary bytes to the multipart stream parser, split into pieces at offsets taken from the
// input itself, with small limits so that the caps are reached too.
#include "WebServer/HttpServerMIMEStreamParser.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::span<const uint8_t> body(data + 1, size - 1);
    std::vector<HttpServerMultiPartArgument> arguments;
    std::vector<HttpServerMultiPartFile> files;
    HttpServerMIMEStreamParser::Limits limits;
    limits.maxHeadLength = 512;
    limits.maxFieldLength = 4096;
    limits.maxParts = 16;
    auto parser = HttpServerMIMEStreamParser::create("b", "", arguments, files, limits);
    for (size_t offset = 0; parser && offset < body.size(); offset += piece) {
        if (!parser->appendBytes(body.subspan(offset, std::min(piece, body.size() - offset))))
            break;
    }
    return 0;
}

// Feeds arbitrary bytes to the readers of WebDAV request bodies, as a PROPFIND and as a LOCK body (a
// PROPPATCH body is never read: the server answers that method 501 from its head), and escapes them as
// an href.
#include "WebServer/WebDavXml.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> body(data, size);
    WebDavXml::parsePropfind(body);
    WebDavXml::parseLockInfo(body);
    WebDavXml::escapeHref(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}

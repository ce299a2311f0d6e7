#include "WebServer/HttpServerMimeTypes.h"

#include "WebServer/HttpServerASCII.h"

#include <fstream>
#include <optional>
#include <sstream>

namespace {

constexpr const char* kOctetStream = "application/octet-stream";

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
            table.emplace(HttpServerASCII::lowered(extension), type);
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

}  // namespace

std::string HttpServerMimeTypes::mimeTypeForExtension(std::string_view extension, const HttpMimeOverrides* overrides)
{
    const std::string key = HttpServerASCII::lowered(extension);
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

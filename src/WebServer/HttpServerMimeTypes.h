#pragma once

#include <map>
#include <string>
#include <string_view>

using HttpMimeOverrides = std::map<std::string, std::string>;

// The media type of a file extension. Any thread: the system's list is read once.
class HttpServerMimeTypes {
public:
    // Overrides first, then the system's media types list; "application/octet-stream" when unknown.
    static std::string mimeTypeForExtension(std::string_view extension, const HttpMimeOverrides* overrides = nullptr);
};

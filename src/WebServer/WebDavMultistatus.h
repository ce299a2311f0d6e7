#pragma once

#include "WebServer/HttpServerResponse.h"
#include "WebServer/WebDavXml.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <vector>

// The body of a PROPFIND answer, written in one pass into one buffer sized up front: a folder's
// listing runs to megabytes, and regrowing or copying it costs as much as reading the entries.
class WebDavMultistatus {
public:
    // Room for `entries` responses whose hrefs add up to about `hrefBytes`.
    WebDavMultistatus(WebDavXml::Properties properties, size_t entries, size_t hrefBytes);

    // One <D:response> for an item with the stat results `info`, whose href is `escapedFolder` (as
    // WebDavXml::escapeHref writes it) followed by `name` escaped.
    void append(std::string_view escapedFolder, std::string_view name, const struct statx& info);
    // The 207 answer with the finished body, which it hands to the connection without a copy; the
    // object is spent.
    std::shared_ptr<HttpServerResponse> finish() &&;

private:
    void write(std::string_view text);

    WebDavXml::Properties properties_;
    std::vector<uint8_t> bytes_;
};

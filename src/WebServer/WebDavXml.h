#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The XML of WebDAV request bodies (read with libxml2, leniently and without network access) and the
// escaping of what the answers echo.
class WebDavXml {
public:
    // What every answer's body begins with, and its content type.
    static constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
    static constexpr const char* kContentType = "application/xml; charset=\"utf-8\"";

    // The properties a PROPFIND asks for.
    struct Properties {
        bool resourceType = false;
        bool creationDate = false;
        bool lastModified = false;
        bool contentLength = false;

        static Properties all() { return {true, true, true, true}; }
    };
    // What a LOCK body asks for.
    struct LockInfo {
        std::string scope;  // "exclusive", "shared"
        std::string type;  // "write"
        std::optional<std::string> owner;
    };

    // nullopt when the body does not parse or holds no "propfind" with "allprop" or "prop".
    static std::optional<Properties> parsePropfind(std::span<const uint8_t> body);
    // nullopt when the body does not parse, holds no "lockinfo", or that lacks a lock scope or type.
    static std::optional<LockInfo> parseLockInfo(std::span<const uint8_t> body);

    // A path for an href: every byte but the unreserved characters and "/" percent-escaped.
    static std::string escapeHref(std::string_view path);
};

#pragma once

#include <optional>
#include <string>
#include <string_view>

// What the update service names as the latest version: its version text and where its zip archive
// lies. Only an answer that is a JSON object with a text "version" and an https "url" is one; the
// archive replaces the program, so it is never fetched from a file or over plain http.
struct UpdateOffer {
    std::string version;
    std::string url;

    // The offer in the service's answer; nullopt (logged) for anything else.
    static std::optional<UpdateOffer> fromAnswer(std::string_view body);
    // The query URL of the service at host:port with the path.
    static std::string queryURL(const std::string& host, int port, const std::string& path);
};

#pragma once

#include "WebServer/HttpServerFunctions.h"

#include <optional>
#include <string>
#include <string_view>

class HttpServerRequest;

// The preconditions of a request that changes a resource ("If-Match", "If-None-Match",
// "If-Unmodified-Since"), checked against the resource's present state in the order RFC 9110 gives,
// so a client's lost-update protection holds: a false one answers 412 and nothing is changed.
// Entity tags compare with or without quotes, as this server sends them bare.
class HttpServerPreconditions {
public:
    // The resource as it is now; `exists` false for one that a PUT would create.
    struct State {
        bool exists = false;
        std::optional<std::string> eTag;
        std::optional<HttpServerFunctions::Date> lastModified;
    };

    // False when a precondition fails (the answer is then 412).
    static bool hold(const HttpServerRequest& request, const State& state);

private:
    // Whether a list of tags ("*", or tags separated by commas) names `tag`; weak tags count as their value.
    static bool listNames(std::string_view list, const std::optional<std::string>& tag, bool exists);
};

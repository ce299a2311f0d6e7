#include "WebServer/HttpServerPreconditions.h"

#include "WebServer/HttpServerRequest.h"

#include <chrono>

namespace {

std::string_view bareTag(std::string_view tag)
{
    tag = HttpServerFunctions::trimBlanks(tag);
    if (tag.starts_with("W/"))
        tag.remove_prefix(2);
    if (tag.size() >= 2 && tag.front() == '"' && tag.back() == '"')
        tag = tag.substr(1, tag.size() - 2);
    return tag;
}

}  // namespace

bool HttpServerPreconditions::listNames(std::string_view list, const std::optional<std::string>& tag, bool exists)
{
    if (HttpServerFunctions::trimBlanks(list) == "*")
        return exists;
    if (!exists || !tag)
        return false;
    const std::string_view wanted = bareTag(*tag);
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (bareTag(list.substr(0, comma)) == wanted)
            return true;
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
    return false;
}

bool HttpServerPreconditions::hold(const HttpServerRequest& request, const State& state)
{
    if (const auto ifMatch = request.headerValue("If-Match")) {
        if (!listNames(*ifMatch, state.eTag, state.exists))
            return false;
    } else if (const auto since = request.headerValue("If-Unmodified-Since")) {
        const auto date = HttpServerFunctions::parseRFC822Date(*since);
        // The head carries whole seconds, so the resource's time is compared at that precision.
        if (date && state.exists && state.lastModified && std::chrono::floor<std::chrono::seconds>(*state.lastModified) > *date)
            return false;
    }
    if (const auto ifNoneMatch = request.headerValue("If-None-Match"))
        return !listNames(*ifNoneMatch, state.eTag, state.exists);
    return true;
}

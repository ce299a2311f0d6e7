#include "WebServer/WebDavDestination.h"

#include "WebServer/HttpServerFunctions.h"

#include <strings.h>

namespace {

bool sameText(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && ::strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<std::string> WebDavDestination::path(std::string_view header, std::string_view host)
{
    std::string_view rest = header;
    if (!rest.starts_with('/')) {
        constexpr std::string_view kScheme = "http://";
        if (host.empty() || !sameText(rest.substr(0, kScheme.size()), kScheme))
            return std::nullopt;
        rest.remove_prefix(kScheme.size());
        const size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
        if (!sameText(rest.substr(0, authorityEnd), host))
            return std::nullopt;
        rest.remove_prefix(authorityEnd);
    }
    rest = rest.substr(0, std::min(rest.find_first_of("?#"), rest.size()));
    // An empty path names the served folder, as "/" does.
    return HttpServerFunctions::unescapeURLString(rest.empty() ? std::string_view("/") : rest);
}

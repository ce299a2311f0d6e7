#include "FileShare/OfferURL.h"

#include <algorithm>

std::string OfferURL::replaceConnectURL(std::string_view base, std::string_view tvAddress)
{
    const size_t scheme = base.find("://");
    if (scheme == std::string_view::npos || tvAddress.empty())
        return std::string(base);
    const size_t authorityStart = scheme + 3;
    const size_t authorityEnd = std::min(base.find_first_of("/?#", authorityStart), base.size());
    const std::string_view authority = base.substr(authorityStart, authorityEnd - authorityStart);
    // User information, when present, stays in front of the host.
    const size_t at = authority.rfind('@');
    const size_t hostStart = at == std::string_view::npos ? 0 : at + 1;
    // An IPv6 literal keeps its colons inside brackets.
    const bool literal = hostStart < authority.size() && authority[hostStart] == '[';
    const size_t closing = literal ? authority.find(']', hostStart) : hostStart;
    if (closing == std::string_view::npos)
        return std::string(base);
    const size_t port = authority.find(':', closing);
    if (port == std::string_view::npos)
        return std::string(base);
    const bool bracket = tvAddress.find(':') != std::string_view::npos;
    std::string url(base.substr(0, authorityStart + hostStart));
    url += bracket ? "[" + std::string(tvAddress) + "]" : std::string(tvAddress);
    url += base.substr(authorityStart + port);
    return url;
}

std::string OfferURL::fileURL(std::string_view base, std::string_view fileId)
{
    std::string url(base);
    url += '/';
    url += fileId;
    return url;
}

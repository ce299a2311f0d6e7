#include "Update/UpdateOffer.h"

#include "Utils/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>

namespace {

constexpr std::string_view kHttps = "https://";

bool isHttpsURL(std::string_view url)
{
    if (url.size() <= kHttps.size())
        return false;
    const bool https = std::equal(kHttps.begin(), kHttps.end(), url.begin(),
                                  [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    // A host must follow the scheme; no control characters or spaces anywhere.
    const bool clean = std::none_of(url.begin(), url.end(),
                                    [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
    return https && clean && url[kHttps.size()] != '/';
}

} // namespace

std::optional<UpdateOffer> UpdateOffer::fromAnswer(std::string_view body)
{
    const auto answer = nlohmann::json::parse(body, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) {
        PLOG("the update service's answer is not a JSON object");
        return std::nullopt;
    }
    const auto version = answer.find("version");
    const auto url = answer.find("url");
    if (version == answer.end() || !version->is_string() || version->get<std::string>().empty()) {
        PLOG("the update service's answer has no version text");
        return std::nullopt;
    }
    if (url == answer.end() || !url->is_string() || !isHttpsURL(url->get<std::string>())) {
        PLOG("the update service's answer has no https archive URL; no update is offered");
        return std::nullopt;
    }
    return UpdateOffer{version->get<std::string>(), url->get<std::string>()};
}

std::string UpdateOffer::queryURL(const std::string& host, int port, const std::string& path)
{
    const bool literalIPv6 = host.find(':') != std::string::npos;
    const std::string hostPart = literalIPv6 ? "[" + host + "]" : host;
    const std::string slash = !path.empty() && path.front() == '/' ? "" : "/";
    return std::string(kHttps) + hostPart + ":" + std::to_string(port) + slash + path + "?app_id=ps&apptype=mac";
}

#include "WebServer/HttpServerHandlerRegistry.h"

#include "WebServer/HttpServerDataResponse.h"
#include "WebServer/HttpServerFileReply.h"
#include "WebServer/HttpServerFolderHandler.h"
#include "WebServer/HttpServerLog.h"

#include <algorithm>
#include <cassert>
#include <optional>
#include <regex.h>
#include <strings.h>

namespace {

// The groups 1..n that took part in every match of the path, in order; nullopt without a match.
std::optional<std::vector<std::string>> regexCaptures(const regex_t& expression, const std::string& path)
{
    constexpr size_t kMaxGroups = 16;
    std::vector<std::string> captures;
    bool matched = false;
    size_t offset = 0;
    while (offset <= path.size()) {
        regmatch_t groups[kMaxGroups];
        const int flags = offset > 0 ? REG_NOTBOL : 0;
        if (regexec(&expression, path.c_str() + offset, kMaxGroups, groups, flags) != 0)
            break;
        matched = true;
        for (size_t group = 1; group < kMaxGroups; ++group) {
            if (groups[group].rm_so >= 0)
                captures.emplace_back(path, offset + static_cast<size_t>(groups[group].rm_so),
                    static_cast<size_t>(groups[group].rm_eo - groups[group].rm_so));
        }
        // An empty match moves on by one character so the search always ends.
        offset += static_cast<size_t>(std::max<regoff_t>(groups[0].rm_eo, groups[0].rm_so + 1));
    }
    if (!matched)
        return std::nullopt;
    return captures;
}

}  // namespace

void HttpServerHandlerRegistry::addHandler(MatchBlock matchBlock, AsyncProcessBlock processBlock)
{
    assert(!inService_ && "handlers are added before the server starts");
    handlers_.insert(handlers_.begin(), std::make_shared<HttpServerHandler>(std::move(matchBlock), std::move(processBlock)));
}

void HttpServerHandlerRegistry::removeAllHandlers()
{
    assert(!inService_ && "handlers are removed while the server is stopped");
    handlers_.clear();
}

HttpServerHandlerRegistry::AsyncProcessBlock HttpServerHandlerRegistry::synchronous(ProcessBlock processBlock)
{
    return [processBlock = std::move(processBlock)](std::shared_ptr<HttpServerRequest> request, HttpServerHandler::Completion completion) {
        completion(processBlock(std::move(request)));
    };
}

void HttpServerHandlerRegistry::addDefaultHandlerForMethod(const std::string& method, RequestFactory factory, AsyncProcessBlock processBlock)
{
    addHandler(
        [method, factory = std::move(factory)](const std::string& requestMethod, const std::string& url, const HttpServerRequest::Headers& headers,
            const std::string& path, const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method)
                return nullptr;
            return factory(requestMethod, url, headers, path, query);
        },
        std::move(processBlock));
}

void HttpServerHandlerRegistry::addHandlerForMethod(const std::string& method, const std::string& path, RequestFactory factory, AsyncProcessBlock processBlock)
{
    if (path.empty() || path[0] != '/')
        return;
    addHandler(
        [method, path, factory = std::move(factory)](const std::string& requestMethod, const std::string& url,
            const HttpServerRequest::Headers& headers, const std::string& requestPath,
            const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method || strcasecmp(requestPath.c_str(), path.c_str()) != 0)
                return nullptr;
            return factory(requestMethod, url, headers, requestPath, query);
        },
        std::move(processBlock));
}

void HttpServerHandlerRegistry::addHandlerForMethodPathRegex(const std::string& method, const std::string& pathRegex, RequestFactory factory,
    AsyncProcessBlock processBlock)
{
    auto compiled = std::make_unique<regex_t>();
    if (regcomp(compiled.get(), pathRegex.c_str(), REG_EXTENDED | REG_ICASE) != 0) {
        HttpServerLog::log(HttpServerLog::Error, "Invalid path pattern '%s'", pathRegex.c_str());
        return;
    }
    const std::shared_ptr<regex_t> expression(compiled.release(), [](regex_t* pattern) {
        regfree(pattern);
        delete pattern;
    });
    addHandler(
        [method, expression, factory = std::move(factory)](const std::string& requestMethod, const std::string& url,
            const HttpServerRequest::Headers& headers, const std::string& path,
            const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            if (requestMethod != method)
                return nullptr;
            const auto captures = regexCaptures(*expression, path);
            if (!captures)
                return nullptr;
            auto request = factory(requestMethod, url, headers, path, query);
            if (request)
                request->setAttribute(*captures, HttpServerRequest::kRegexCapturesAttribute);
            return request;
        },
        std::move(processBlock));
}

void HttpServerHandlerRegistry::addGETHandlerForPath(const std::string& path, std::vector<uint8_t> staticData, const std::string& contentType, uint64_t cacheAge)
{
    addHandlerForMethod("GET", path, requestFactory(),
        synchronous([staticData = std::move(staticData), contentType, cacheAge](std::shared_ptr<HttpServerRequest>) -> std::shared_ptr<HttpServerResponse> {
            auto response = HttpServerDataResponse::responseWithData(staticData, contentType);
            if (response)
                response->setCacheControlMaxAge(cacheAge);
            return response;
        }));
}

void HttpServerHandlerRegistry::addGETHandlerForPath(const std::string& path, const std::string& filePath, bool isAttachment, uint64_t cacheAge,
    bool allowRangeRequests)
{
    addHandlerForMethod("GET", path, requestFactory(),
        synchronous([filePath, isAttachment, cacheAge, allowRangeRequests](std::shared_ptr<HttpServerRequest> request) -> std::shared_ptr<HttpServerResponse> {
            auto response = HttpServerFileReply::makeForRequest(filePath, *request, isAttachment, allowRangeRequests);
            if (response && response->statusCode() < 300)
                response->setCacheControlMaxAge(cacheAge);
            return response;
        }));
}

void HttpServerHandlerRegistry::addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath,
    const std::string& indexFilename, uint64_t cacheAge, bool allowRangeRequests)
{
    if (basePath.empty() || basePath.front() != '/' || basePath.back() != '/')
        return;
    const auto handler = std::make_shared<HttpServerFolderHandler>(directoryPath,
        HttpServerFolderHandler::Settings{basePath, indexFilename, cacheAge, allowRangeRequests});
    addHandler(
        [handler](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers, const std::string& path,
            const HttpServerRequest::Query& query) { return handler->match(method, url, headers, path, query); },
        synchronous([handler](std::shared_ptr<HttpServerRequest> request) { return handler->respond(*request); }));
}

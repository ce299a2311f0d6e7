#pragma once

#include "WebServer/HttpServerHandler.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The server's list of handlers, the one added last first, and the ways to add the common kinds.
// Filled before the server starts: connections read the list unlocked.
class HttpServerHandlerRegistry {
public:
    using MatchBlock = HttpServerHandler::MatchBlock;
    using AsyncProcessBlock = HttpServerHandler::AsyncProcessBlock;
    using ProcessBlock = HttpServerHandler::ProcessBlock;
    // Makes the request object of a matched head (nullptr when the head frames no body consistently).
    using RequestFactory = MatchBlock;

    template <class Request = HttpServerRequest>
    static RequestFactory requestFactory()
    {
        return [](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers,
                   const std::string& path, const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
            return HttpServerRequest::create<Request>(method, url, headers, path, query);
        };
    }
    // A synchronous process closure as an asynchronous one that completes at once.
    static AsyncProcessBlock synchronous(ProcessBlock processBlock);

    void addHandler(MatchBlock matchBlock, AsyncProcessBlock processBlock);
    void removeAllHandlers();
    // While the server runs, connections read the list without a lock: it may not change then.
    void setInService(bool inService) { inService_ = inService; }
    const std::vector<std::shared_ptr<HttpServerHandler>>& handlers() const { return handlers_; }

    // Every request of the method (case-sensitive).
    void addDefaultHandlerForMethod(const std::string& method, RequestFactory factory, AsyncProcessBlock processBlock);
    // The method and the path (ignoring case); ignored unless the path begins with "/".
    void addHandlerForMethod(const std::string& method, const std::string& path, RequestFactory factory, AsyncProcessBlock processBlock);
    // The method and a case-insensitive regular expression found in the path; the groups that took
    // part in each match go to the request attribute kRegexCapturesAttribute (a vector of strings).
    // Ignored when the pattern does not compile.
    void addHandlerForMethodPathRegex(const std::string& method, const std::string& pathRegex, RequestFactory factory,
        AsyncProcessBlock processBlock);
    void addGETHandlerForPath(const std::string& path, std::vector<uint8_t> staticData, const std::string& contentType, uint64_t cacheAge);
    void addGETHandlerForPath(const std::string& path, const std::string& filePath, bool isAttachment, uint64_t cacheAge,
        bool allowRangeRequests);
    // Serves the folder tree under basePath (which must begin and end with "/").
    void addGETHandlerForBasePath(const std::string& basePath, const std::string& directoryPath, const std::string& indexFilename,
        uint64_t cacheAge, bool allowRangeRequests);

private:
    std::vector<std::shared_ptr<HttpServerHandler>> handlers_;
    std::atomic<bool> inService_{false};
};

#pragma once

#include "WebServer/HttpServerRequest.h"
#include "WebServer/HttpServerResponse.h"

#include <functional>
#include <memory>
#include <string>

// One entry of the server's handler list: a match closure that turns a parsed head into a request
// object (or declines with nullptr) and a process closure that answers it. The completion may be
// called later, from any thread; a nullptr response is answered with 500.
class HttpServerHandler {
public:
    using MatchBlock = std::function<std::unique_ptr<HttpServerRequest>(const std::string& method, const std::string& url,
        const HttpServerRequest::Headers& headers, const std::string& path, const HttpServerRequest::Query& query)>;
    using Completion = std::function<void(std::shared_ptr<HttpServerResponse> response)>;
    using AsyncProcessBlock = std::function<void(std::shared_ptr<HttpServerRequest> request, Completion completion)>;
    using ProcessBlock = std::function<std::shared_ptr<HttpServerResponse>(std::shared_ptr<HttpServerRequest> request)>;

    HttpServerHandler(MatchBlock matchBlock, AsyncProcessBlock asyncProcessBlock);

    const MatchBlock& matchBlock() const { return matchBlock_; }
    const AsyncProcessBlock& asyncProcessBlock() const { return asyncProcessBlock_; }

private:
    const MatchBlock matchBlock_;
    const AsyncProcessBlock asyncProcessBlock_;
};

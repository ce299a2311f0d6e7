#pragma once

#include "WebServer/HttpError.h"
#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerErrorResponse.h"
#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerRequest.h"
#include "WebServer/HttpServerResponse.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The answers and readings of a request that WebDavServer's methods share.
namespace WebDavReplies {

inline std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

inline std::shared_ptr<HttpServerResponse> error(int status, const std::string& message, const HttpError* underlying = nullptr)
{
    return HttpServerErrorResponse::responseWithClientError(status, message, underlying);
}

inline std::shared_ptr<HttpServerResponse> status(int code)
{
    return HttpServerResponse::responseWithStatusCode(code);
}

// The two client agents that need LOCK and class 2 to mount a share read-write.
inline bool isLockingAgent(const HttpServerRequest& request)
{
    const std::string agent = request.headerValue("User-Agent").value_or("");
    return agent.starts_with("WebDAVFS/") || agent.starts_with("WebDAVLib/");
}

// A body is present when one was framed, unless its declared length is 0.
inline bool hasNonEmptyBody(const HttpServerRequest& request)
{
    return request.hasBody() && (request.usesChunkedTransferEncoding() || request.contentLength() != 0);
}

// The body as text for an error page ("<N bytes>" when it is not UTF-8).
inline std::string bodyText(const std::vector<uint8_t>& data)
{
    const std::string text(data.begin(), data.end());
    return HttpServerFunctions::isValidUTF8(text) ? text : "<" + std::to_string(data.size()) + " bytes>";
}

inline const std::vector<uint8_t>& bodyOf(const HttpServerRequest& request)
{
    return static_cast<const HttpServerDataRequest&>(request).data();
}

} // namespace WebDavReplies

#pragma once

#include "WebServer/HttpServerDataResponse.h"

// An HTML page telling the status, a message and the error behind it. Everything it echoes is
// HTML-escaped, since messages often quote request paths.
class HttpServerErrorResponse : public HttpServerDataResponse {
public:
    using HttpServerDataResponse::HttpServerDataResponse;

    static std::shared_ptr<HttpServerErrorResponse> responseWithClientError(int statusCode, const std::string& message,
                                                                            const HttpError* underlyingError = nullptr);
    static std::shared_ptr<HttpServerErrorResponse> responseWithServerError(int statusCode, const std::string& message,
                                                                            const HttpError* underlyingError = nullptr);
    static std::shared_ptr<HttpServerErrorResponse> responseWithStatusCode(int statusCode, const std::string& message,
                                                                           const HttpError* underlyingError = nullptr);
};

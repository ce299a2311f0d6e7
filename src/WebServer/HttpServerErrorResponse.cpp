#include "WebServer/HttpServerErrorResponse.h"

std::shared_ptr<HttpServerErrorResponse> HttpServerErrorResponse::responseWithClientError(int statusCode, const std::string& message,
                                                                                         const HttpError* underlyingError)
{
    return responseWithStatusCode(statusCode, message, underlyingError);
}

std::shared_ptr<HttpServerErrorResponse> HttpServerErrorResponse::responseWithServerError(int statusCode, const std::string& message,
                                                                                         const HttpError* underlyingError)
{
    return responseWithStatusCode(statusCode, message, underlyingError);
}

std::shared_ptr<HttpServerErrorResponse> HttpServerErrorResponse::responseWithStatusCode(int statusCode, const std::string& message,
                                                                                        const HttpError* underlyingError)
{
    const std::string title = "HTTP Error " + std::to_string(statusCode);
    std::string errorText;
    if (underlyingError != nullptr) {
        errorText = "[" + underlyingError->domain + "] " + underlyingError->description + " (" + std::to_string(underlyingError->code) + ")";
    }
    const std::string html = "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + title + "</title></head><body><h1>" +
                             title + ": " + HttpServerFunctions::escapeHTML(message) + "</h1><h3>" +
                             HttpServerFunctions::escapeHTML(errorText) + "</h3></body></html>";
    std::optional<std::vector<uint8_t>> bytes = utf8Bytes(html);
    if (!bytes) {
        return nullptr;
    }
    auto page = make<HttpServerErrorResponse>(std::move(*bytes), "text/html; charset=utf-8");
    page->setStatusCode(statusCode);
    return page;
}

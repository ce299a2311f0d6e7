#include "WebServer/HttpServerStreamedResponse.h"

#include "WebServer/HttpServerFunctions.h"

HttpServerStreamedResponse::HttpServerStreamedResponse(const std::string& contentType, AsyncStreamBlock block) : block_(std::move(block))
{
    setContentType(contentType);
}

std::shared_ptr<HttpServerStreamedResponse> HttpServerStreamedResponse::responseWithContentType(const std::string& contentType,
                                                                                               StreamBlock block)
{
    if (!block) {
        return nullptr;
    }
    return responseWithAsyncContentType(contentType, [block = std::move(block)](ReadCompletion completion) {
        HttpError error;
        Piece piece = block(&error);
        completion(std::move(piece), error);
    });
}

std::shared_ptr<HttpServerStreamedResponse> HttpServerStreamedResponse::responseWithAsyncContentType(const std::string& contentType,
                                                                                                    AsyncStreamBlock block)
{
    if (!block || !HttpServerFunctions::isValidHeaderValue(contentType)) {
        return nullptr;
    }
    return std::make_shared<HttpServerStreamedResponse>(contentType, std::move(block));
}

HttpServerBodyReader::Piece HttpServerStreamedResponse::readData(HttpError* error)
{
    // Pieces arrive only through the completion; a caller that cannot wait gets an error, not a hang.
    HttpError::assign(error, HttpError{HttpError::kServerDomain, -1, "A streamed body is read asynchronously"});
    return std::nullopt;
}

void HttpServerStreamedResponse::asyncReadData(ReadCompletion completion)
{
    block_(std::move(completion));
}

std::string HttpServerStreamedResponse::description() const
{
    return HttpServerResponse::description() + "\n\n<STREAM>";
}

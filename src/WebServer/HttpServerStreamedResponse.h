#pragma once

#include "WebServer/HttpServerResponse.h"

// A body produced piece by piece by a closure; its length is unknown, so it is sent chunked. An
// empty piece ends the body.
class HttpServerStreamedResponse : public HttpServerResponse {
public:
    using StreamBlock = std::function<Piece(HttpError* error)>;
    using AsyncStreamBlock = std::function<void(ReadCompletion completion)>;

    HttpServerStreamedResponse(const std::string& contentType, AsyncStreamBlock block);

    // nullptr when the content type cannot go in a header or the closure is empty.
    static std::shared_ptr<HttpServerStreamedResponse> responseWithContentType(const std::string& contentType, StreamBlock block);
    static std::shared_ptr<HttpServerStreamedResponse> responseWithAsyncContentType(const std::string& contentType,
                                                                                    AsyncStreamBlock block);

    Piece readData(HttpError* error) override;
    bool hasAsyncRead() const override { return true; }
    void asyncReadData(ReadCompletion completion) override;
    std::string description() const override;

private:
    AsyncStreamBlock block_;
};

#pragma once

#include "WebServer/HttpServerRequest.h"
#include "WebServer/HttpServerTemporaryFile.h"

// A request whose body streams to a temporary file (unpredictable name, made with mkstemp when the
// body opens). Destroying the request deletes the file, so a handler that keeps the upload moves it
// away before it completes.
class HttpServerFileRequest : public HttpServerRequest {
public:
    // Empty until the body is opened.
    const std::string& temporaryPath() const { return file_.path(); }

    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

    std::string description() const override;

private:
    HttpServerTemporaryFile file_;
};

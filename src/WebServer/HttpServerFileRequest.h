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
    // Where the body's file is made (see HttpServerTemporaryFile::setLocation); set before the body opens.
    void setTemporaryLocation(std::string folder, std::string namePrefix) { file_.setLocation(std::move(folder), std::move(namePrefix)); }
    // Hands the closed file to the caller, who then owns (and deletes or keeps) it; empty when none was made.
    std::string releaseTemporaryPath() { return file_.releasePath(); }

    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

    std::string description() const override;

private:
    HttpServerTemporaryFile file_;
};

#pragma once

#include "WebServer/HttpServerDataRequest.h"

// A request whose body is an "application/x-www-form-urlencoded" form, parsed when the body closes.
class HttpServerURLEncodedFormRequest : public HttpServerDataRequest {
public:
    static const char* mimeType() { return "application/x-www-form-urlencoded"; }

    const std::map<std::string, std::string>& arguments() const { return arguments_; }

    bool close(HttpError* error) override;

    std::string description() const override;

private:
    std::map<std::string, std::string> arguments_;
};

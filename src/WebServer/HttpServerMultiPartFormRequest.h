#pragma once

#include "WebServer/HttpServerMIMEStreamParser.h"
#include "WebServer/HttpServerRequest.h"

// A request whose body is "multipart/form-data": field parts become arguments, file parts stream to
// temporary files owned by the file records. A body past the parser's limits fails with 413.
class HttpServerMultiPartFormRequest : public HttpServerRequest {
public:
    static const char* mimeType() { return "multipart/form-data"; }

    std::vector<HttpServerMultiPartArgument>& arguments() { return arguments_; }
    const std::vector<HttpServerMultiPartArgument>& arguments() const { return arguments_; }
    std::vector<HttpServerMultiPartFile>& files() { return files_; }
    const std::vector<HttpServerMultiPartFile>& files() const { return files_; }
    const HttpServerMultiPartArgument* firstArgumentForControlName(std::string_view name) const;
    const HttpServerMultiPartFile* firstFileForControlName(std::string_view name) const;

    void setLimits(const HttpServerMIMEStreamParser::Limits& limits) { limits_ = limits; }

    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

    std::string description() const override;

private:
    bool parserFailure(HttpError* error, const char* description) const;

    std::vector<HttpServerMultiPartArgument> arguments_;
    std::vector<HttpServerMultiPartFile> files_;
    HttpServerMIMEStreamParser::Limits limits_;
    // Declared after the lists it appends to, so it goes first.
    std::unique_ptr<HttpServerMIMEStreamParser> parser_;
};

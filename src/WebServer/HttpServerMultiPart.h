#pragma once

#include <string>

// One part of a "multipart/form-data" body: its control name and content type.
class HttpServerMultiPart {
public:
    HttpServerMultiPart(std::string controlName, std::string contentType);
    virtual ~HttpServerMultiPart() = default;

    const std::string& controlName() const { return controlName_; }
    const std::string& contentType() const { return contentType_; }
    // The content type up to its first ";".
    const std::string& mimeType() const { return mimeType_; }

    virtual std::string description() const = 0;

protected:
    HttpServerMultiPart(const HttpServerMultiPart&) = default;
    HttpServerMultiPart(HttpServerMultiPart&&) = default;
    HttpServerMultiPart& operator=(const HttpServerMultiPart&) = default;
    HttpServerMultiPart& operator=(HttpServerMultiPart&&) = default;

private:
    std::string controlName_;
    std::string contentType_;
    std::string mimeType_;
};

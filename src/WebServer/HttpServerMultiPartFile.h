#pragma once

#include "WebServer/HttpServerMultiPart.h"

// A file part of a form, stored in a temporary file that this record owns: destroying the record
// deletes the file, so a handler that keeps it moves it away first. Move-only.
class HttpServerMultiPartFile : public HttpServerMultiPart {
public:
    HttpServerMultiPartFile(std::string controlName, std::string contentType, std::string fileName,
        std::string temporaryPath);
    ~HttpServerMultiPartFile() override;
    HttpServerMultiPartFile(HttpServerMultiPartFile&& other) noexcept;
    HttpServerMultiPartFile& operator=(HttpServerMultiPartFile&& other) noexcept;

    const std::string& fileName() const { return fileName_; }
    const std::string& temporaryPath() const { return temporaryPath_; }

    std::string description() const override;

private:
    void removeFile();

    std::string fileName_;
    std::string temporaryPath_;
};

#include "WebServer/HttpServerMultiPartFile.h"

#include <unistd.h>
#include <utility>

HttpServerMultiPartFile::HttpServerMultiPartFile(std::string controlName, std::string contentType,
    std::string fileName, std::string temporaryPath)
    : HttpServerMultiPart(std::move(controlName), std::move(contentType))
    , fileName_(std::move(fileName))
    , temporaryPath_(std::move(temporaryPath))
{
}

HttpServerMultiPartFile::~HttpServerMultiPartFile()
{
    removeFile();
}

HttpServerMultiPartFile::HttpServerMultiPartFile(HttpServerMultiPartFile&& other) noexcept
    : HttpServerMultiPart(std::move(other))
    , fileName_(std::move(other.fileName_))
    , temporaryPath_(std::exchange(other.temporaryPath_, std::string()))
{
}

HttpServerMultiPartFile& HttpServerMultiPartFile::operator=(HttpServerMultiPartFile&& other) noexcept
{
    if (this != &other) {
        removeFile();
        HttpServerMultiPart::operator=(std::move(other));
        fileName_ = std::move(other.fileName_);
        temporaryPath_ = std::exchange(other.temporaryPath_, std::string());
    }
    return *this;
}

void HttpServerMultiPartFile::removeFile()
{
    if (!temporaryPath_.empty())
        ::unlink(temporaryPath_.c_str());
    temporaryPath_.clear();
}

std::string HttpServerMultiPartFile::description() const
{
    return "<HttpServerMultiPartFile | '" + mimeType() + "' | '" + fileName_ + "'>";
}

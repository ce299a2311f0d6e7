#include "WebServer/HttpServerMultiPart.h"

#include "WebServer/HttpServerFunctions.h"

HttpServerMultiPart::HttpServerMultiPart(std::string controlName, std::string contentType)
    : controlName_(std::move(controlName))
    , contentType_(std::move(contentType))
    , mimeType_(HttpServerFunctions::truncateHeaderValue(contentType_))
{
}

#include "WebServer/HttpServerMultiPartArgument.h"

#include "WebServer/HttpServerFunctions.h"

HttpServerMultiPartArgument::HttpServerMultiPartArgument(std::string controlName, std::string contentType,
    std::vector<uint8_t> data)
    : HttpServerMultiPart(std::move(controlName), std::move(contentType))
    , data_(std::move(data))
{
    if (this->contentType().starts_with("text/")) {
        const auto charset = HttpServerFunctions::extractHeaderParameter(this->contentType(), "charset");
        string_ = HttpServerFunctions::decodeText(data_, HttpServerFunctions::encodingForCharset(charset));
    }
}

std::string HttpServerMultiPartArgument::description() const
{
    return "<HttpServerMultiPartArgument | '" + mimeType() + "' | " + std::to_string(data_.size()) + " bytes>";
}

#include "WebServer/HttpServerURLEncodedFormRequest.h"

bool HttpServerURLEncodedFormRequest::close(HttpError* error)
{
    if (!HttpServerDataRequest::close(error))
        return false;
    const auto charset = HttpServerFunctions::extractHeaderParameter(contentType(), "charset");
    const auto text = HttpServerFunctions::decodeText(data(), HttpServerFunctions::encodingForCharset(charset));
    arguments_ = text ? HttpServerFunctions::parseURLEncodedForm(*text) : std::map<std::string, std::string>();
    return true;
}

std::string HttpServerURLEncodedFormRequest::description() const
{
    std::string text = HttpServerDataRequest::description() + "\n";
    // std::map keeps the keys sorted.
    for (const auto& [name, value] : arguments_)
        text += "\n" + name + " = " + value;
    return text;
}

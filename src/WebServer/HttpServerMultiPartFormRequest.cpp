#include "WebServer/HttpServerMultiPartFormRequest.h"

#include <algorithm>

namespace {

template <class Part>
const Part* firstWithControlName(const std::vector<Part>& parts, std::string_view name)
{
    const auto found = std::find_if(parts.begin(), parts.end(), [name](const Part& part) { return part.controlName() == name; });
    return found == parts.end() ? nullptr : &*found;
}

} // namespace

const HttpServerMultiPartArgument* HttpServerMultiPartFormRequest::firstArgumentForControlName(std::string_view name) const
{
    return firstWithControlName(arguments_, name);
}

const HttpServerMultiPartFile* HttpServerMultiPartFormRequest::firstFileForControlName(std::string_view name) const
{
    return firstWithControlName(files_, name);
}

bool HttpServerMultiPartFormRequest::parserFailure(HttpError* error, const char* description) const
{
    if (parser_ && parser_->exceededLimit())
        return tooLarge(error, "Multipart form data over the limit");
    return serverFailure(error, description);
}

bool HttpServerMultiPartFormRequest::open(HttpError* error)
{
    const auto boundary = HttpServerFunctions::extractHeaderParameter(contentType(), "boundary");
    parser_ = HttpServerMIMEStreamParser::create(boundary.value_or(""), "", arguments_, files_, limits_);
    if (!parser_)
        return serverFailure(error, "Failed starting to parse multipart form data");
    return true;
}

bool HttpServerMultiPartFormRequest::writeData(std::span<const uint8_t> data, HttpError* error)
{
    if (!parser_ || !parser_->appendBytes(data))
        return parserFailure(error, "Failed continuing to parse multipart form data");
    return true;
}

bool HttpServerMultiPartFormRequest::close(HttpError* error)
{
    const bool atEnd = parser_ && parser_->isAtEnd();
    parser_.reset();
    if (!atEnd)
        return serverFailure(error, "Failed finishing to parse multipart form data");
    return true;
}

std::string HttpServerMultiPartFormRequest::description() const
{
    std::string text = HttpServerRequest::description();
    if (!arguments_.empty()) {
        text += "\n";
        for (const auto& argument : arguments_)
            text += "\n" + argument.controlName() + " (" + argument.contentType() + ")\n"
                + HttpServerFunctions::describeBodyData(argument.data(), argument.contentType());
    }
    if (!files_.empty()) {
        text += "\n";
        for (const auto& file : files_)
            text += "\n" + file.controlName() + " (" + file.contentType() + "): " + file.fileName() + "\n{"
                + file.temporaryPath() + "}";
    }
    return text;
}

#include "WebServer/HttpServerDataRequest.h"

#include <algorithm>

namespace {

constexpr size_t kInitialCapacity = 262144;

} // namespace

void HttpServerDataRequest::setData(std::vector<uint8_t> data)
{
    data_ = std::move(data);
    text_.reset();
    jsonObject_.reset();
}

const std::optional<std::string>& HttpServerDataRequest::text() const
{
    if (!text_ && contentType().starts_with("text/")) {
        const auto charset = HttpServerFunctions::extractHeaderParameter(contentType(), "charset");
        text_ = HttpServerFunctions::decodeText(data_, HttpServerFunctions::encodingForCharset(charset));
    }
    return text_;
}

const std::optional<nlohmann::json>& HttpServerDataRequest::jsonObject() const
{
    const std::string type = HttpServerFunctions::truncateHeaderValue(contentType());
    if (!jsonObject_ && (type == "application/json" || type == "text/json" || type == "text/javascript")) {
        auto parsed = nlohmann::json::parse(data_.begin(), data_.end(), nullptr, false);
        if (!parsed.is_discarded())
            jsonObject_ = std::move(parsed);
    }
    return jsonObject_;
}

bool HttpServerDataRequest::open(HttpError* error)
{
    data_.clear();
    text_.reset();
    jsonObject_.reset();
    if (contentLength() == kNoContentLength)
        return true;
    if (contentLength() > maxBodyLength_)
        return tooLarge(error, "Declared request body length over the limit");
    // A declared length is only a promise: reserve no more than one read's worth up front.
    data_.reserve(std::min<size_t>(static_cast<size_t>(contentLength()), kInitialCapacity));
    return true;
}

bool HttpServerDataRequest::writeData(std::span<const uint8_t> data, HttpError* error)
{
    if (data.size() > maxBodyLength_ - data_.size())
        return tooLarge(error, "Request body over the limit");
    data_.insert(data_.end(), data.begin(), data.end());
    return true;
}

bool HttpServerDataRequest::close(HttpError*)
{
    return true;
}

std::string HttpServerDataRequest::description() const
{
    return HttpServerRequest::description() + "\n\n" + HttpServerFunctions::describeBodyData(data_, contentType());
}

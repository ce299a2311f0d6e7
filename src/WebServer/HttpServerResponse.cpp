#include "WebServer/HttpServerResponse.h"

#include "Utils/Log.h"
#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerGZipEncoder.h"

#include <ctime>

namespace {

// A head text that would break the head is refused; the log names the field, not its bytes.
bool acceptHeaderText(const char* field, const std::string& value)
{
    if (HttpServerFunctions::isValidHeaderValue(value)) {
        return true;
    }
    PLOG("Refused a value with CR, LF or NUL for the header field \"%s\"", field);
    return false;
}

std::string describeDate(HttpServerResponse::Date date)
{
    const time_t time = std::chrono::system_clock::to_time_t(date);
    std::tm fields{};
    gmtime_r(&time, &fields);
    char text[64];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S +0000", &fields);
    return text;
}

}  // namespace

HttpServerResponse::HttpServerResponse() = default;

HttpServerResponse::HttpServerResponse(int statusCode) : statusCode_(statusCode) {}

HttpServerResponse::~HttpServerResponse() = default;

std::shared_ptr<HttpServerResponse> HttpServerResponse::response()
{
    return std::make_shared<HttpServerResponse>();
}

std::shared_ptr<HttpServerResponse> HttpServerResponse::responseWithStatusCode(int statusCode)
{
    return std::make_shared<HttpServerResponse>(statusCode);
}

std::shared_ptr<HttpServerResponse> HttpServerResponse::responseWithRedirect(const std::string& location, bool permanent)
{
    auto redirect = std::make_shared<HttpServerResponse>(permanent ? 301 : 307);
    if (!redirect->setValueForAdditionalHeader("Location", location)) {
        return nullptr;
    }
    return redirect;
}

bool HttpServerResponse::setContentType(std::optional<std::string> contentType)
{
    if (contentType && !acceptHeaderText("Content-Type", *contentType)) {
        return false;
    }
    contentType_ = std::move(contentType);
    return true;
}

bool HttpServerResponse::setETag(std::optional<std::string> eTag)
{
    if (eTag && !acceptHeaderText("ETag", *eTag)) {
        return false;
    }
    eTag_ = std::move(eTag);
    return true;
}

bool HttpServerResponse::setValueForAdditionalHeader(const std::string& name, std::optional<std::string> value)
{
    if (!HttpServerFunctions::isValidHeaderName(name)) {
        PLOG("Refused a header field name that is not a token (%zu bytes)", name.size());
        return false;
    }
    if (!value) {
        additionalHeaders_.erase(name);
        return true;
    }
    if (!acceptHeaderText(name.c_str(), *value)) {
        return false;
    }
    additionalHeaders_[name] = std::move(*value);
    return true;
}

void HttpServerResponse::prepareForReading()
{
    if (reader_ != nullptr) {
        return;  // the chain is built once
    }
    reader_ = this;
    if (gzipContentEncodingEnabled_) {
        encoders_.push_back(std::make_unique<HttpServerGZipEncoder>(*this, *reader_));
        reader_ = encoders_.back().get();
    }
}

bool HttpServerResponse::performOpen(HttpError* error)
{
    if (opened_ || reader_ == nullptr) {
        HttpError::assign(error, HttpError{HttpError::kServerDomain, -1, "The response body was already opened or not prepared"});
        return false;
    }
    opened_ = true;
    return reader_->open(error);
}

void HttpServerResponse::performReadData(ReadCompletion completion)
{
    if (!opened_) {
        completion(std::nullopt, HttpError{HttpError::kServerDomain, -1, "The response body is not open"});
        return;
    }
    reader_->asyncReadData(std::move(completion));
}

std::optional<HttpServerFileRegion> HttpServerResponse::performFileRegion() const
{
    if (!opened_ || reader_ != this)
        return std::nullopt;
    return fileRegion();
}

void HttpServerResponse::performClose()
{
    if (reader_ != nullptr) {
        reader_->close();
    }
}

bool HttpServerResponse::open(HttpError*)
{
    return true;
}

HttpServerBodyReader::Piece HttpServerResponse::readData(HttpError*)
{
    return std::vector<uint8_t>();
}

void HttpServerResponse::close() {}

std::string HttpServerResponse::description() const
{
    std::string text = "Status Code = " + std::to_string(statusCode_);
    if (contentType_) {
        text += "\nContent Type = " + *contentType_;
    }
    if (contentLength_ != kUnknownLength) {
        text += "\nContent Length = " + std::to_string(contentLength_);
    }
    text += "\nCache Control Max Age = " + std::to_string(cacheControlMaxAge_);
    if (lastModifiedDate_) {
        text += "\nLast Modified Date = " + describeDate(*lastModifiedDate_);
    }
    if (eTag_) {
        text += "\nETag = " + *eTag_;
    }
    if (!additionalHeaders_.empty()) {
        text += "\n";
        for (const auto& [name, value] : additionalHeaders_) {
            text += "\n" + name + ": " + value;
        }
    }
    return text;
}

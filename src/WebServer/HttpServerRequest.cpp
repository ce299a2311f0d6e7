#include "WebServer/HttpServerRequest.h"

#include "WebServer/HttpServerFunctions.h"
#include "WebServer/HttpServerGZipDecoder.h"

#include "Utils/Log.h"

#include <strings.h>
#include <sys/socket.h>

namespace {

std::string addressText(const std::vector<uint8_t>& data)
{
    if (data.empty())
        return {};
    return HttpServerFunctions::socketAddressText(reinterpret_cast<const sockaddr*>(data.data()),
        static_cast<socklen_t>(data.size()), true);
}

} // namespace

HttpServerRequest::~HttpServerRequest() = default;

int HttpServerRequest::framingStatus(const Headers& headers)
{
    const auto value = [&headers](std::string_view name) -> std::optional<std::string> {
        for (const auto& [key, text] : headers) {
            if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
                return text;
        }
        return std::nullopt;
    };
    bool chunked = false;
    if (const auto codings = value("Transfer-Encoding")) {
        // Repeated fields arrive joined with ", ": the list is one, whichever way it came.
        std::string_view list = *codings;
        bool any = false;
        while (!list.empty() || !any) {
            const size_t comma = list.find(',');
            const std::string coding = HttpServerFunctions::normalizeHeaderValue(HttpServerFunctions::trimBlanks(list.substr(0, comma)));
            list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
            any = true;
            if (coding.empty() || chunked)
                return 400;  // an empty member, or anything after chunked (chunked again included)
            if (coding != "chunked")
                return 501;
            chunked = true;
        }
    }
    if (const auto length = value("Content-Length")) {
        if (chunked || !HttpServerFunctions::parseDecimal(HttpServerFunctions::trimBlanks(*length)))
            return 400;
    }
    return 0;
}

bool HttpServerRequest::initialize(const std::string& method, const std::string& url, const Headers& headers,
    const std::string& path, const Query& query)
{
    method_ = method;
    url_ = url;
    headers_ = headers;
    path_ = path;
    query_ = query;

    if (const auto type = headerValue("Content-Type"))
        contentType_ = HttpServerFunctions::normalizeHeaderValue(*type);
    if (const auto coding = headerValue("Transfer-Encoding"))
        usesChunkedTransferEncoding_ = HttpServerFunctions::normalizeHeaderValue(*coding) == "chunked";

    if (const auto lengthText = headerValue("Content-Length")) {
        const auto length = HttpServerFunctions::parseDecimal(HttpServerFunctions::trimBlanks(*lengthText));
        if (!length || usesChunkedTransferEncoding_) {
            PLOG("Invalid 'Content-Length' header '%s' for '%s' request on \"%s\"", lengthText->c_str(), method.c_str(),
                url.c_str());
            return false;
        }
        contentLength_ = *length;
        if (contentType_.empty())
            contentType_ = "application/octet-stream";
    } else if (usesChunkedTransferEncoding_) {
        if (contentType_.empty())
            contentType_ = "application/octet-stream";
    } else if (!contentType_.empty()) {
        PLOG("Ignoring 'Content-Type' header for '%s' request on \"%s\"", method.c_str(), url.c_str());
        contentType_.clear();
    }

    if (const auto since = headerValue("If-Modified-Since"))
        ifModifiedSince_ = HttpServerFunctions::parseRFC822Date(*since);
    ifNoneMatch_ = headerValue("If-None-Match");

    if (const auto range = headerValue("Range")) {
        if (const auto parsed = HttpServerByteRange::parse(*range))
            byteRange_ = *parsed;
        else
            PLOG("Failed to parse 'Range' header \"%s\" for url: %s", range->c_str(), url.c_str());
    }

    if (const auto accepted = headerValue("Accept-Encoding"))
        acceptsGzipContentEncoding_ = accepted->find("gzip") != std::string::npos;
    return true;
}

std::optional<std::string> HttpServerRequest::headerValue(std::string_view name) const
{
    for (const auto& [key, value] : headers_) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    }
    return std::nullopt;
}

std::string HttpServerRequest::localAddressString() const
{
    return addressText(localAddressData_);
}

std::string HttpServerRequest::remoteAddressString() const
{
    return addressText(remoteAddressData_);
}

const std::any* HttpServerRequest::attributeForKey(const std::string& key) const
{
    const auto found = attributes_.find(key);
    return found == attributes_.end() ? nullptr : &found->second;
}

void HttpServerRequest::setAttribute(std::any value, const std::string& key)
{
    if (value.has_value())
        attributes_[key] = std::move(value);
    else
        attributes_.erase(key);
}

void HttpServerRequest::prepareForWriting(uint64_t maxStoredLength)
{
    writer_ = this;
    const auto coding = headerValue("Content-Encoding");
    if (coding && HttpServerFunctions::normalizeHeaderValue(*coding) == "gzip") {
        decoders_.push_back(std::make_unique<HttpServerGZipDecoder>(
            writer_, std::min(maxStoredLength, HttpServerGZipDecoder::kDefaultMaxInflatedLength)));
        writer_ = decoders_.back().get();
    }
}

bool HttpServerRequest::performOpen(HttpError* error)
{
    if (opened_)
        return serverFailure(error, "Request body already opened");
    opened_ = true;
    return writer_->open(error);
}

bool HttpServerRequest::performWriteData(std::span<const uint8_t> data, HttpError* error)
{
    return writer_->writeData(data, error);
}

bool HttpServerRequest::performClose(HttpError* error)
{
    return writer_->close(error);
}

bool HttpServerRequest::open(HttpError*)
{
    return true;
}

bool HttpServerRequest::writeData(std::span<const uint8_t>, HttpError*)
{
    return true;
}

bool HttpServerRequest::close(HttpError*)
{
    return true;
}

std::string HttpServerRequest::description() const
{
    std::string text = method_ + " " + path_;
    for (const auto& [name, value] : query_)
        text += "\n  " + name + " = " + value;
    text += "\n";
    for (const auto& [name, value] : headers_)
        text += "\n" + name + ": " + value;
    return text;
}

bool HttpServerRequest::tooLarge(HttpError* error, const char* what)
{
    PLOG("Refusing request body: %s", what);
    if (error)
        *error = HttpError { HttpError::kServerDomain, 413, what };
    return false;
}

bool HttpServerRequest::serverFailure(HttpError* error, const char* description)
{
    if (error)
        *error = HttpError { HttpError::kServerDomain, -1, description };
    return false;
}

#pragma once

#include "WebServer/HttpServerBodyReader.h"

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class HttpServerBodyEncoder;

// Status, head fields and body of an answer. The base class has no body; subclasses give one.
// The connection calls prepareForReading, performOpen, performReadData until an empty piece, then
// performClose; the response must outlive the reads it has started.
class HttpServerResponse : public HttpServerBodyReader {
public:
    static constexpr uint64_t kUnknownLength = UINT64_MAX;
    using Date = std::chrono::system_clock::time_point;

    HttpServerResponse();
    explicit HttpServerResponse(int statusCode);
    ~HttpServerResponse() override;
    HttpServerResponse(const HttpServerResponse&) = delete;
    HttpServerResponse& operator=(const HttpServerResponse&) = delete;

    static std::shared_ptr<HttpServerResponse> response();
    static std::shared_ptr<HttpServerResponse> responseWithStatusCode(int statusCode);
    // 301 when permanent, else 307, with "Location"; nullptr when the location cannot go in a header.
    static std::shared_ptr<HttpServerResponse> responseWithRedirect(const std::string& location, bool permanent);

    int statusCode() const { return statusCode_; }
    void setStatusCode(int statusCode) { statusCode_ = statusCode; }
    const std::optional<std::string>& contentType() const { return contentType_; }
    // Refused (false, logged) when the text carries CR, LF or NUL.
    bool setContentType(std::optional<std::string> contentType);
    uint64_t contentLength() const { return contentLength_; }
    void setContentLength(uint64_t length) { contentLength_ = length; }
    uint64_t cacheControlMaxAge() const { return cacheControlMaxAge_; }
    void setCacheControlMaxAge(uint64_t seconds) { cacheControlMaxAge_ = seconds; }
    const std::optional<Date>& lastModifiedDate() const { return lastModifiedDate_; }
    void setLastModifiedDate(std::optional<Date> date) { lastModifiedDate_ = date; }
    const std::optional<std::string>& eTag() const { return eTag_; }
    bool setETag(std::optional<std::string> eTag);
    bool isGZipContentEncodingEnabled() const { return gzipContentEncodingEnabled_; }
    void setGZipContentEncodingEnabled(bool enabled) { gzipContentEncodingEnabled_ = enabled; }

    const std::map<std::string, std::string>& additionalHeaders() const { return additionalHeaders_; }
    // nullopt removes the field. A name that is not a token or a value with CR, LF or NUL is
    // refused (false, logged) so that no input can add lines to the head.
    bool setValueForAdditionalHeader(const std::string& name, std::optional<std::string> value);

    bool hasBody() const { return contentType_.has_value(); }
    bool usesChunkedTransferEncoding() const { return hasBody() && contentLength_ == kUnknownLength; }

    void prepareForReading();
    // False on a second call or when the head of the reader chain fails to open.
    bool performOpen(HttpError* error);
    void performReadData(ReadCompletion completion);
    // The opened body as a stretch of a file, when it is one and no encoder stands between: then it
    // may be sent without reading it in.
    std::optional<HttpServerFileRegion> performFileRegion() const;
    void performClose();

    bool open(HttpError* error) override;
    Piece readData(HttpError* error) override;
    void close() override;

    virtual std::string description() const;

protected:
    // The body as it stands in a file, when it does.
    virtual std::optional<HttpServerFileRegion> fileRegion() const { return std::nullopt; }

private:
    bool opened_ = false;
    std::vector<std::unique_ptr<HttpServerBodyEncoder>> encoders_;
    HttpServerBodyReader* reader_ = nullptr;
    bool gzipContentEncodingEnabled_ = false;
    std::optional<std::string> contentType_;
    uint64_t contentLength_ = kUnknownLength;
    int statusCode_ = 200;
    uint64_t cacheControlMaxAge_ = 0;
    std::optional<Date> lastModifiedDate_;
    std::optional<std::string> eTag_;
    std::map<std::string, std::string> additionalHeaders_;
};

#pragma once

#include "WebServer/HttpServerBodyDecoder.h"
#include "WebServer/HttpServerBodyWriter.h"
#include "WebServer/HttpServerByteRange.h"
#include "WebServer/HttpServerFunctions.h"

#include <any>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A request made from a parsed head. It decides from the head whether a body follows and how it is
// framed, and receives that body through a chain of writers (gzip decoding in front when the body is
// gzip-coded). This base class discards the body; subclasses keep it.
// Writer errors in HttpError::kServerDomain with code 413 mean "body too large"; the connection
// answers them with that status.
class HttpServerResponse;

class HttpServerRequest : public HttpServerBodyWriter {
public:
    using Headers = std::map<std::string, std::string>;
    using Query = std::map<std::string, std::string>;
    static constexpr uint64_t kNoContentLength = UINT64_MAX;
    static constexpr const char* kRegexCapturesAttribute = "HttpServerRequestAttribute_RegexCaptures";

    // The status that refuses a head whose body framing is not ours to read: 501 for a transfer coding
    // other than chunked, 400 for chunked repeated or not last, or a "Content-Length" that is not a plain
    // 64-bit decimal number or comes with chunked coding; 0 for a head that frames its body cleanly.
    static int framingStatus(const Headers& headers);

    // A request of class Request (this class or a subclass) made from a parsed head; nullptr when the
    // head frames no body consistently ("Content-Length" that is not a plain 64-bit decimal number, or
    // given together with chunked coding).
    template <class Request = HttpServerRequest>
    static std::unique_ptr<Request> create(const std::string& method, const std::string& url, const Headers& headers,
        const std::string& path, const Query& query)
    {
        auto request = std::make_unique<Request>();
        if (!request->initialize(method, url, headers, path, query))
            return nullptr;
        return request;
    }

    HttpServerRequest() = default;
    ~HttpServerRequest() override;
    HttpServerRequest(const HttpServerRequest&) = delete;
    HttpServerRequest& operator=(const HttpServerRequest&) = delete;

    const std::string& method() const { return method_; }
    const std::string& URL() const { return url_; }
    const Headers& headers() const { return headers_; }
    // The value of a header field, its name matched ignoring case.
    std::optional<std::string> headerValue(std::string_view name) const;
    const std::string& path() const { return path_; }
    const Query& query() const { return query_; }
    // Empty when no body follows.
    const std::string& contentType() const { return contentType_; }
    uint64_t contentLength() const { return contentLength_; }
    const std::optional<HttpServerFunctions::Date>& ifModifiedSince() const { return ifModifiedSince_; }
    const std::optional<std::string>& ifNoneMatch() const { return ifNoneMatch_; }
    bool acceptsGzipContentEncoding() const { return acceptsGzipContentEncoding_; }
    bool usesChunkedTransferEncoding() const { return usesChunkedTransferEncoding_; }
    const HttpServerByteRange& byteRange() const { return byteRange_; }

    bool hasBody() const { return !contentType_.empty(); }
    // The answer does not depend on the body (a refusal): the connection answers without reading it.
    bool answersBeforeBody() const { return answersBeforeBody_; }
    void setAnswersBeforeBody(bool on) { answersBeforeBody_ = on; }
    // An answer the handler decided from the head alone (a refusal): the connection sends it instead of
    // reading the body and running the handler.
    const std::shared_ptr<HttpServerResponse>& refusal() const { return refusal_; }
    void setRefusal(std::shared_ptr<HttpServerResponse> response) { refusal_ = std::move(response); }
    bool hasByteRange() const { return byteRange_.isSet(); }

    const std::vector<uint8_t>& localAddressData() const { return localAddressData_; }
    void setLocalAddressData(std::vector<uint8_t> data) { localAddressData_ = std::move(data); }
    const std::vector<uint8_t>& remoteAddressData() const { return remoteAddressData_; }
    void setRemoteAddressData(std::vector<uint8_t> data) { remoteAddressData_ = std::move(data); }
    std::string localAddressString() const;
    std::string remoteAddressString() const;

    // Per-request values set by handlers; an empty value removes the key.
    const std::any* attributeForKey(const std::string& key) const;
    void setAttribute(std::any value, const std::string& key);

    // Used by the connection, in this order. The bytes stored after decoding are capped at
    // `maxStoredLength` (a body coded with gzip is capped as it inflates).
    void prepareForWriting(uint64_t maxStoredLength = UINT64_MAX);
    bool performOpen(HttpError* error);
    bool performWriteData(std::span<const uint8_t> data, HttpError* error);
    bool performClose(HttpError* error);

    // This class drops the body.
    bool open(HttpError* error) override;
    bool writeData(std::span<const uint8_t> data, HttpError* error) override;
    bool close(HttpError* error) override;

    virtual std::string description() const;

    // Logs and fills the "413 Payload Too Large" error value of a body past its cap; returns false.
    static bool tooLarge(HttpError* error, const char* what);

protected:
    bool initialize(const std::string& method, const std::string& url, const Headers& headers, const std::string& path,
        const Query& query);
    static bool serverFailure(HttpError* error, const char* description);

private:
    bool opened_ = false;
    std::vector<std::unique_ptr<HttpServerBodyDecoder>> decoders_;
    HttpServerBodyWriter* writer_ = this;
    std::map<std::string, std::any> attributes_;
    bool acceptsGzipContentEncoding_ = false;
    bool usesChunkedTransferEncoding_ = false;
    bool answersBeforeBody_ = false;
    std::shared_ptr<HttpServerResponse> refusal_;
    std::string method_;
    std::string url_;
    Headers headers_;
    std::string path_;
    Query query_;
    std::string contentType_;
    uint64_t contentLength_ = kNoContentLength;
    std::optional<HttpServerFunctions::Date> ifModifiedSince_;
    std::optional<std::string> ifNoneMatch_;
    std::vector<uint8_t> localAddressData_;
    std::vector<uint8_t> remoteAddressData_;
    HttpServerByteRange byteRange_;
};

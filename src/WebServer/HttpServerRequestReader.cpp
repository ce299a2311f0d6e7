#include "WebServer/HttpServerRequestReader.h"

#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerLog.h"

#include <strings.h>

namespace {

constexpr std::string_view kContinueHead = "HTTP/1.1 100 Continue\r\n\r\n";

bool isTooLarge(const HttpError& error) { return error.domain == HttpError::kServerDomain && error.code == 413; }

}  // namespace

HttpServerRequestReader::HttpServerRequestReader(const HttpServer& server, HttpServerConnectionSocket& socket,
    HttpServerConnectionDeadlines& deadlines, Failure failure)
    : server_(server), socket_(socket), deadlines_(deadlines), failure_(std::move(failure))
{
}

void HttpServerRequestReader::readHead(std::function<void()> onHead)
{
    socket_.readSome([this, onHead = std::move(onHead)](std::span<const uint8_t> data) mutable {
        const auto state = headParser_.append(data);
        if (state != HttpServerHeadParser::State::NeedMore)
            deadlines_.headArrived();
        switch (state) {
        case HttpServerHeadParser::State::NeedMore:
            readHead(std::move(onHead));
            return;
        case HttpServerHeadParser::State::Complete:
            onHead();
            return;
        default:
            HttpServerLog::log(HttpServerLog::Error, "Failed parsing request headers from socket %i", socket_.descriptor());
            failure_.abort(headParser_.failureStatus());
            return;
        }
    });
}

void HttpServerRequestReader::readBody(std::shared_ptr<HttpServerRequest> request, std::function<void()> onBody)
{
    request_ = std::move(request);
    onBody_ = std::move(onBody);
    const bool chunked = request_->usesChunkedTransferEncoding();
    // Refused before a byte is stored, and before a client waiting for "100 Continue" sends any.
    if (!chunked && request_->contentLength() > server_.maxRequestBodyLength()) {
        HttpServerLog::log(HttpServerLog::Error, "Request body of %llu bytes past the cap on socket %i",
            static_cast<unsigned long long>(request_->contentLength()), socket_.descriptor());
        failure_.abort(413);
        return;
    }
    request_->prepareForWriting(server_.maxRequestBodyLength());
    if (!chunked && request_->contentLength() < headParser_.remainder().size()) {
        HttpServerLog::log(HttpServerLog::Error, "Unexpected 'Content-Length' header value on socket %i", socket_.descriptor());
        failure_.abort(400);
        return;
    }
    const auto expect = request_->headerValue("Expect");
    if (!expect) {
        openBody();
    } else if (strcasecmp(expect->c_str(), "100-continue") == 0) {
        socket_.write({{kContinueHead.begin(), kContinueHead.end()}}, [this](bool success) {
            if (success)
                openBody();
            else
                failure_.end();
        });
    } else {
        HttpServerLog::log(HttpServerLog::Error, "Unsupported 'Expect' / 'Content-Length' header combination on socket %i",
            socket_.descriptor());
        failure_.abort(417);
    }
}

void HttpServerRequestReader::openBody()
{
    if (!request_->performOpen(&bodyError_)) {
        abortForBodyError("Failed opening request body");
        return;
    }
    const std::vector<uint8_t> bytes = headParser_.remainder();
    if (request_->usesChunkedTransferEncoding()) {
        chunkParser_ = std::make_unique<HttpServerChunkParser>([this](std::span<const uint8_t> data) { return writeBodyData(data); });
        readChunkedBody(bytes);
        return;
    }
    if (!bytes.empty() && !writeBodyData(bytes)) {
        failBody("Failed writing request body");
        return;
    }
    readBodyByLength(request_->contentLength() - bytes.size());
}

bool HttpServerRequestReader::writeBodyData(std::span<const uint8_t> data)
{
    bodyLength_ += data.size();
    if (bodyLength_ > server_.maxRequestBodyLength())
        return HttpServerRequest::tooLarge(&bodyError_, "request body past the server's cap");
    return request_->performWriteData(data, &bodyError_);
}

// Malformed framing: the body is closed unused and the request answered 400.
void HttpServerRequestReader::refuseBody(const HttpError& error)
{
    bodyError_ = error;
    HttpError closeError;
    request_->performClose(&closeError);
    failure_.abort(400);
}

void HttpServerRequestReader::abortForBodyError(const char* what)
{
    HttpServerLog::log(HttpServerLog::Error, "%s for socket %i: %s", what, socket_.descriptor(), bodyError_.description.c_str());
    failure_.abort(isTooLarge(bodyError_) ? 413 : 500);
}

void HttpServerRequestReader::failBody(const char* what)
{
    HttpServerLog::log(HttpServerLog::Error, "%s on socket %i: %s", what, socket_.descriptor(), bodyError_.description.c_str());
    HttpError closeError;
    request_->performClose(&closeError);
    failure_.abort(isTooLarge(bodyError_) ? 413 : 500);
}

void HttpServerRequestReader::readBodyByLength(uint64_t remaining)
{
    if (remaining == 0) {
        finishBody();
        return;
    }
    socket_.readSome([this, remaining](std::span<const uint8_t> data) {
        if (data.size() > remaining) {
            HttpServerLog::log(HttpServerLog::Error, "Unexpected extra content reading request body on socket %i", socket_.descriptor());
            refuseBody(HttpError{HttpError::kServerDomain, 400, "Unexpected extra content"});
            return;
        }
        if (!writeBodyData(data)) {
            failBody("Failed writing request body");
            return;
        }
        readBodyByLength(remaining - data.size());
    });
}

void HttpServerRequestReader::readChunkedBody(std::span<const uint8_t> data)
{
    switch (chunkParser_->append(data)) {
    case HttpServerChunkParser::State::NeedMore:
        socket_.readSome([this](std::span<const uint8_t> more) { readChunkedBody(more); });
        return;
    case HttpServerChunkParser::State::Complete:
        finishBody();
        return;
    case HttpServerChunkParser::State::Malformed:
        HttpServerLog::log(HttpServerLog::Error, "Invalid chunk reading request body on socket %i", socket_.descriptor());
        refuseBody(HttpError{HttpError::kServerDomain, 400, "Invalid chunk"});
        return;
    case HttpServerChunkParser::State::SinkFailed:
        failBody("Failed writing request body");
        return;
    }
}

void HttpServerRequestReader::finishBody()
{
    if (!request_->performClose(&bodyError_)) {
        abortForBodyError("Failed closing request body");
        return;
    }
    onBody_();
}

#include "WebServer/HttpServerConnection.h"

#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerLog.h"

#include <cerrno>
#include <cstring>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kReadBufferLength = 262144;
constexpr std::string_view kContinueHead = "HTTP/1.1 100 Continue\r\n\r\n";
constexpr std::string_view kLastChunk = "0\r\n\r\n";

const char* reasonPhrase(int status)
{
    switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 206: return "Partial Content";
    case 207: return "Multi-Status";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 415: return "Unsupported Media Type";
    case 416: return "Range Not Satisfiable";
    case 417: return "Expectation Failed";
    case 423: return "Locked";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 507: return "Insufficient Storage";
    default: return status < 300 ? "OK" : status < 500 ? "Client Error" : "Server Error";
    }
}

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::string addressText(const std::vector<uint8_t>& data)
{
    if (data.empty())
        return {};
    return HttpServerFunctions::socketAddressText(reinterpret_cast<const sockaddr*>(data.data()), static_cast<socklen_t>(data.size()), true);
}

bool isTooLarge(const HttpError& error) { return error.domain == HttpError::kServerDomain && error.code == 413; }

}  // namespace

HttpServerConnection::HttpServerConnection(std::shared_ptr<HttpServer> server, int socket, std::vector<uint8_t> localAddressData,
    std::vector<uint8_t> remoteAddressData)
    : server_(std::move(server)),
      queue_(SerialQueue::create("HttpServerConnection")),
      socket_(socket),
      localAddressData_(std::move(localAddressData)),
      remoteAddressData_(std::move(remoteAddressData))
{
}

HttpServerConnection::~HttpServerConnection()
{
    if (socket_ >= 0)
        ::close(socket_);
}

void HttpServerConnection::start()
{
    self_ = shared_from_this();
    headDeadline_ = (DispatchQueue::Clock::now() + server_->requestHeadTimeout()).time_since_epoch().count();
    server_->willStartConnection(*this);
    queue_->async([self = self_] {
        if (!self->open()) {
            self->end();
            return;
        }
        self->opened_ = true;
        self->noteProgress();
        self->readHead();
    });
}

std::string HttpServerConnection::localAddressString() const { return addressText(localAddressData_); }

std::string HttpServerConnection::remoteAddressString() const { return addressText(remoteAddressData_); }

bool HttpServerConnection::isUsingIPv6() const
{
    return localAddressData_.size() >= sizeof(sa_family_t) && reinterpret_cast<const sockaddr*>(localAddressData_.data())->sa_family == AF_INET6;
}

// ---- Socket steps ----

// Readiness sources are made only when the socket first has to be waited on: a small request
// usually arrives with the connection and its answer fits the send buffer, and then none is needed.
bool HttpServerConnection::watch(std::unique_ptr<DispatchSource>& source, DispatchSource::Kind kind)
{
    if (!source) {
        const std::weak_ptr<HttpServerConnection> weak = weak_from_this();
        source = DispatchSource::create(socket_, kind, queue_, [weak, kind] {
            if (const auto self = weak.lock())
                kind == DispatchSource::Kind::Read ? self->onReadable() : self->onWritable();
        });
        if (!source) {
            HttpServerLog::log(HttpServerLog::Error, "Cannot watch socket %i", socket_);
            end();
            return false;
        }
    }
    source->resume();
    return true;
}

void HttpServerConnection::readSome(DataHandler onData)
{
    onData_ = std::move(onData);
    if (!readSource_ && !triedFirstRead_) {
        triedFirstRead_ = true;
        if (receive())
            return;
    }
    watch(readSource_, DispatchSource::Kind::Read);
}

void HttpServerConnection::onReadable()
{
    if (!ended_ && onData_)
        receive();
}

bool HttpServerConnection::receive()
{
    // One buffer per pool thread: every consumer copies what it keeps, and a per-connection buffer of
    // this size would cost an mmap, its page faults and a munmap for each request.
    thread_local std::vector<uint8_t> readBuffer(kReadBufferLength);
    const ssize_t count = ::recv(socket_, readBuffer.data(), readBuffer.size(), 0);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    if (readSource_)
        readSource_->suspend();
    if (count < 0) {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Error while reading from socket %i: %s (%i)", socket_, strerror(code), code);
        end();
        return true;
    }
    if (count == 0) {
        if (totalBytesRead_ > 0)
            HttpServerLog::log(HttpServerLog::Error, "No more data available on socket %i", socket_);
        else
            HttpServerLog::log(HttpServerLog::Warning, "No data received from socket %i", socket_);
        end();
        return true;
    }
    noteProgress();
    didReadBytes(static_cast<size_t>(count));
    const DataHandler onData = std::move(onData_);
    onData_ = nullptr;
    onData(std::span<const uint8_t>(readBuffer.data(), static_cast<size_t>(count)));
    return true;
}

void HttpServerConnection::writeData(std::vector<uint8_t> data, DoneHandler onDone)
{
    if (!unsentHead_.empty()) {
        unsentHead_.insert(unsentHead_.end(), data.begin(), data.end());
        data = std::move(unsentHead_);
        unsentHead_.clear();
    }
    writeBuffer_ = std::move(data);
    writeOffset_ = 0;
    onWritten_ = std::move(onDone);
    onWritable();
}

void HttpServerConnection::onWritable()
{
    if (ended_ || !onWritten_)
        return;
    while (writeOffset_ < writeBuffer_.size()) {
        const ssize_t count = ::send(socket_, writeBuffer_.data() + writeOffset_, writeBuffer_.size() - writeOffset_, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(writeSource_, DispatchSource::Kind::Write);
            return;
        }
        if (count < 0) {
            const int code = errno;
            HttpServerLog::log(HttpServerLog::Error, "Error while writing to socket %i: %s (%i)", socket_, strerror(code), code);
            if (writeSource_)
                writeSource_->suspend();
            const DoneHandler onDone = std::move(onWritten_);
            onWritten_ = nullptr;
            onDone(false);
            return;
        }
        writeOffset_ += static_cast<size_t>(count);
        noteProgress();
    }
    if (writeSource_)
        writeSource_->suspend();
    didWriteBytes(writeBuffer_.size());
    const DoneHandler onDone = std::move(onWritten_);
    onWritten_ = nullptr;
    onDone(true);
}

void HttpServerConnection::noteProgress()
{
    lastProgress_ = DispatchQueue::Clock::now().time_since_epoch().count();
}

void HttpServerConnection::endIfStalled(DispatchQueue::Clock::time_point idleLimit, DispatchQueue::Clock::time_point now)
{
    // The reason to end, or nullptr.
    const auto stalled = [this, idleLimit, now]() -> const char* {
        const auto last = lastProgress_.load();
        if (last != kNotWatched && last < idleLimit.time_since_epoch().count())
            return "Idle time-out";
        const auto headDeadline = headDeadline_.load();
        if (headDeadline != kNotWatched && headDeadline <= now.time_since_epoch().count())
            return "Request head time-out";
        return nullptr;
    };
    if (!stalled())
        return;
    // Looked at again on the queue: progress may come between here and there.
    queue_->async([self = shared_from_this(), stalled] {
        const char* reason = self->ended_ ? nullptr : stalled();
        if (!reason)
            return;
        HttpServerLog::log(HttpServerLog::Error, "%s on socket %i", reason, self->socket_);
        self->end();
    });
}

void HttpServerConnection::end()
{
    if (ended_)
        return;
    ended_ = true;
    const auto keep = shared_from_this();  // self_ may hold the last reference
    lastProgress_ = kNotWatched;
    headDeadline_ = kNotWatched;
    if (readSource_ || writeSource_)
        ::shutdown(socket_, SHUT_RDWR);  // the readiness sources may still hold duplicates of the socket
    readSource_.reset();
    writeSource_.reset();
    if (::close(socket_) != 0) {
        const int code = errno;
        HttpServerLog::log(HttpServerLog::Error, "Failed closing socket %i for connection: %s (%i)", socket_, strerror(code), code);
    }
    socket_ = -1;
    if (opened_)
        close();
    server_->didEndConnection(*this);
    request_.reset();
    response_.reset();
    self_.reset();
}

// ---- Request ----

void HttpServerConnection::readHead()
{
    readSome([this](std::span<const uint8_t> data) {
        const auto state = headParser_.append(data);
        if (state != HttpServerHeadParser::State::NeedMore)
            headDeadline_ = kNotWatched;
        switch (state) {
        case HttpServerHeadParser::State::NeedMore:
            readHead();
            return;
        case HttpServerHeadParser::State::Complete:
            dispatchHead();
            return;
        default:
            HttpServerLog::log(HttpServerLog::Error, "Failed parsing request headers from socket %i", socket_);
            abortRequest(headParser_.failureStatus());
            return;
        }
    });
}

void HttpServerConnection::dispatchHead()
{
    std::string method = headParser_.method();
    if (server_->shouldAutomaticallyMapHEADToGET() && method == "HEAD") {
        virtualHEAD_ = true;
        method = "GET";
    }
    const HttpServerRequest::Headers& headers = headParser_.headers();
    const std::string url = rewriteRequestURL(headParser_.target(), method, headers);
    std::string path;
    std::string queryText;
    if (!HttpServerHeadParser::splitTarget(url, path, queryText)) {
        abortRequest(400);
        return;
    }
    const HttpServerRequest::Query query = HttpServerFunctions::parseURLEncodedForm(queryText);
    // A head whose body framing is inconsistent is refused before any handler sees it.
    if (!HttpServerRequest::create(method, url, headers, path, query)) {
        abortRequest(400);
        return;
    }
    for (const auto& handler : server_->handlers()) {
        handler_ = handler;
        if (auto request = handler->matchBlock()(method, url, headers, path, query)) {
            request_ = std::move(request);
            break;
        }
    }
    if (!request_) {
        handler_.reset();
        request_ = HttpServerRequest::create(method, url, headers, path, query);
        abortRequest(501);
        return;
    }
    request_->setLocalAddressData(localAddressData_);
    request_->setRemoteAddressData(remoteAddressData_);
    if (!request_->hasBody()) {
        startProcessing();
        return;
    }
    const bool chunked = request_->usesChunkedTransferEncoding();
    // Refused before a byte is stored, and before a client waiting for "100 Continue" sends any.
    if (!chunked && request_->contentLength() > server_->maxRequestBodyLength()) {
        HttpServerLog::log(HttpServerLog::Error, "Request body of %llu bytes past the cap on socket %i",
            static_cast<unsigned long long>(request_->contentLength()), socket_);
        abortRequest(413);
        return;
    }
    request_->prepareForWriting();
    const std::vector<uint8_t>& initial = headParser_.remainder();
    if (!chunked && request_->contentLength() < initial.size()) {
        HttpServerLog::log(HttpServerLog::Error, "Unexpected 'Content-Length' header value on socket %i", socket_);
        abortRequest(400);
        return;
    }
    auto readBody = [this, chunked] {
        if (!request_->performOpen(&bodyError_)) {
            HttpServerLog::log(HttpServerLog::Error, "Failed opening request body for socket %i: %s", socket_, bodyError_.description.c_str());
            abortRequest(isTooLarge(bodyError_) ? 413 : 500);
            return;
        }
        const std::vector<uint8_t> bytes = headParser_.remainder();
        if (chunked) {
            chunkParser_ = std::make_unique<HttpServerChunkParser>([this](std::span<const uint8_t> data) { return writeBodyData(data); });
            readChunkedBody(bytes);
            return;
        }
        if (!bytes.empty() && !writeBodyData(bytes)) {
            failBody("Failed writing request body");
            return;
        }
        readBodyByLength(request_->contentLength() - bytes.size());
    };
    const auto expect = request_->headerValue("Expect");
    if (!expect) {
        readBody();
    } else if (strcasecmp(expect->c_str(), "100-continue") == 0) {
        writeData(bytesOf(kContinueHead), [this, readBody](bool success) {
            if (success)
                readBody();
            else
                end();
        });
    } else {
        HttpServerLog::log(HttpServerLog::Error, "Unsupported 'Expect' / 'Content-Length' header combination on socket %i", socket_);
        abortRequest(417);
    }
}

bool HttpServerConnection::writeBodyData(std::span<const uint8_t> data)
{
    bodyLength_ += data.size();
    if (bodyLength_ > server_->maxRequestBodyLength())
        return HttpServerRequest::tooLarge(&bodyError_, "request body past the server's cap");
    return request_->performWriteData(data, &bodyError_);
}

void HttpServerConnection::failBody(const char* what)
{
    HttpServerLog::log(HttpServerLog::Error, "%s on socket %i: %s", what, socket_, bodyError_.description.c_str());
    HttpError closeError;
    request_->performClose(&closeError);
    abortRequest(isTooLarge(bodyError_) ? 413 : 500);
}

void HttpServerConnection::readBodyByLength(uint64_t remaining)
{
    if (remaining == 0) {
        finishBody();
        return;
    }
    readSome([this, remaining](std::span<const uint8_t> data) {
        if (data.size() > remaining) {
            bodyError_ = HttpError{HttpError::kServerDomain, 400, "Unexpected extra content"};
            HttpServerLog::log(HttpServerLog::Error, "Unexpected extra content reading request body on socket %i", socket_);
            HttpError closeError;
            request_->performClose(&closeError);
            abortRequest(400);
            return;
        }
        if (!writeBodyData(data)) {
            failBody("Failed writing request body");
            return;
        }
        readBodyByLength(remaining - data.size());
    });
}

void HttpServerConnection::readChunkedBody(std::span<const uint8_t> data)
{
    switch (chunkParser_->append(data)) {
    case HttpServerChunkParser::State::NeedMore:
        readSome([this](std::span<const uint8_t> more) { readChunkedBody(more); });
        return;
    case HttpServerChunkParser::State::Complete:
        finishBody();
        return;
    case HttpServerChunkParser::State::Malformed:
        HttpServerLog::log(HttpServerLog::Error, "Invalid chunk reading request body on socket %i", socket_);
        bodyError_ = HttpError{HttpError::kServerDomain, 400, "Invalid chunk"};
        {
            HttpError closeError;
            request_->performClose(&closeError);
        }
        abortRequest(400);
        return;
    case HttpServerChunkParser::State::SinkFailed:
        failBody("Failed writing request body");
        return;
    }
}

void HttpServerConnection::finishBody()
{
    if (!request_->performClose(&bodyError_)) {
        HttpServerLog::log(HttpServerLog::Error, "Failed closing request body for socket %i: %s", socket_, bodyError_.description.c_str());
        abortRequest(isTooLarge(bodyError_) ? 413 : 500);
        return;
    }
    startProcessing();
}

// ---- Processing ----

void HttpServerConnection::startProcessing()
{
    if (auto response = preflightRequest(*request_)) {
        finishProcessing(std::move(response));
        return;
    }
    // A handler may take its time; the socket is not idle on the peer's account meanwhile.
    lastProgress_ = kNotWatched;
    auto completed = std::make_shared<std::atomic<bool>>(false);
    processRequest(request_, [self = shared_from_this(), completed](std::shared_ptr<HttpServerResponse> response) {
        if (completed->exchange(true))
            return;
        self->queue_->async([self, response = std::move(response)]() mutable { self->finishProcessing(std::move(response)); });
    });
}

std::string HttpServerConnection::rewriteRequestURL(const std::string& url, const std::string&, const HttpServerRequest::Headers&)
{
    return url;
}

std::shared_ptr<HttpServerResponse> HttpServerConnection::preflightRequest(const HttpServerRequest& request)
{
    return server_->authenticate(request, virtualHEAD_ ? "HEAD" : request.method());
}

void HttpServerConnection::processRequest(std::shared_ptr<HttpServerRequest> request, HttpServerHandler::Completion completion)
{
    handler_->asyncProcessBlock()(std::move(request), std::move(completion));
}

std::shared_ptr<HttpServerResponse> HttpServerConnection::overrideResponse(std::shared_ptr<HttpServerResponse> response,
    const HttpServerRequest& request)
{
    const int status = response->statusCode();
    if (status < 200 || status >= 300)
        return response;
    // The head carries whole seconds, so a client's copy of "Last-Modified" is compared at that precision.
    const bool notModifiedSince = request.ifModifiedSince() && response->lastModifiedDate()
                                  && std::chrono::floor<std::chrono::seconds>(*response->lastModifiedDate()) <= *request.ifModifiedSince();
    const bool tagMatches = request.ifNoneMatch() && response->eTag()
                            && (*request.ifNoneMatch() == "*" || *request.ifNoneMatch() == *response->eTag());
    if (!notModifiedSince && !tagMatches)
        return response;
    const bool safe = request.method() == "GET" || request.method() == "HEAD";
    auto replacement = HttpServerResponse::responseWithStatusCode(safe ? 304 : 412);
    replacement->setCacheControlMaxAge(response->cacheControlMaxAge());
    replacement->setLastModifiedDate(response->lastModifiedDate());
    replacement->setETag(response->eTag());
    return replacement;
}

void HttpServerConnection::finishProcessing(std::shared_ptr<HttpServerResponse> response)
{
    if (ended_)
        return;
    noteProgress();
    if (response)
        response = overrideResponse(std::move(response), *request_);
    bool bodyOpen = false;
    if (response && response->hasBody()) {
        response->prepareForReading();
        if (!virtualHEAD_) {
            HttpError error;
            if (response->performOpen(&error)) {
                bodyOpen = true;
            } else {
                HttpServerLog::log(HttpServerLog::Error, "Failed opening response body for socket %i: %s", socket_, error.description.c_str());
                response.reset();
            }
        }
    }
    if (!response) {
        abortRequest(500);
        return;
    }
    response_ = std::move(response);
    statusCode_ = response_->statusCode();
    if (!bodyOpen) {
        writeData(bytesOf(headText(statusCode_, response_.get())), [this](bool) { end(); });
        return;
    }
    // The head goes out with the first piece of the body: one send for a small answer.
    unsentHead_ = bytesOf(headText(statusCode_, response_.get()));
    writeBody(response_->usesChunkedTransferEncoding());
}

std::string HttpServerConnection::headText(int statusCode, const HttpServerResponse* response) const
{
    std::vector<std::pair<std::string, std::string>> fields = {
        {"Connection", "Close"},
        {"Server", server_->serverName()},
        {"Date", HttpServerFunctions::formatRFC822Date(std::chrono::system_clock::now())},
    };
    if (response) {
        if (response->lastModifiedDate())
            fields.emplace_back("Last-Modified", HttpServerFunctions::formatRFC822Date(*response->lastModifiedDate()));
        if (response->eTag())
            fields.emplace_back("ETag", *response->eTag());
        if (statusCode >= 200 && statusCode < 300) {
            const uint64_t age = response->cacheControlMaxAge();
            fields.emplace_back("Cache-Control", age != 0 ? "max-age=" + std::to_string(age) + ", public" : "no-cache");
        }
        if (response->contentType())
            fields.emplace_back("Content-Type", HttpServerFunctions::normalizeHeaderValue(*response->contentType()));
        if (response->contentLength() != HttpServerResponse::kUnknownLength)
            fields.emplace_back("Content-Length", std::to_string(response->contentLength()));
        if (response->usesChunkedTransferEncoding())
            fields.emplace_back("Transfer-Encoding", "chunked");
        for (const auto& additional : response->additionalHeaders()) {
            const auto same = std::find_if(fields.begin(), fields.end(), [&additional](const auto& field) {
                return strcasecmp(field.first.c_str(), additional.first.c_str()) == 0;
            });
            if (same != fields.end())
                same->second = additional.second;
            else
                fields.push_back(additional);
        }
    }
    std::string head = "HTTP/1.1 " + std::to_string(statusCode) + " " + reasonPhrase(statusCode) + "\r\n";
    for (const auto& [name, value] : fields) {
        // The response's setters refuse line breaks; this is the last guard against split heads.
        if (!HttpServerFunctions::isValidHeaderName(name) || !HttpServerFunctions::isValidHeaderValue(value)) {
            HttpServerLog::log(HttpServerLog::Error, "Dropping unsafe header field '%s' on socket %i", name.c_str(), socket_);
            continue;
        }
        head += name + ": " + value + "\r\n";
    }
    head += "\r\n";
    return head;
}

void HttpServerConnection::writeBody(bool chunked)
{
    response_->performReadData([self = shared_from_this(), chunked](HttpServerBodyReader::Piece piece, const HttpError& error) {
        self->queue_->async([self, chunked, piece = std::move(piece), error]() mutable {
            self->writeBodyPiece(chunked, std::move(piece), error);
        });
    });
}

void HttpServerConnection::writeBodyPiece(bool chunked, HttpServerBodyReader::Piece piece, const HttpError& error)
{
    if (ended_)
        return;
    auto finish = [this](bool) {
        response_->performClose();
        end();
    };
    if (!piece) {
        HttpServerLog::log(HttpServerLog::Error, "Failed reading response body for socket %i: %s", socket_, error.description.c_str());
        finish(false);
        return;
    }
    if (piece->empty()) {
        writeData(chunked ? bytesOf(kLastChunk) : std::vector<uint8_t>{}, finish);
        return;
    }
    std::vector<uint8_t> data;
    if (chunked) {
        char sizeLine[24];
        const int length = snprintf(sizeLine, sizeof(sizeLine), "%zx\r\n", piece->size());
        data.reserve(piece->size() + static_cast<size_t>(length) + 2);
        data.insert(data.end(), sizeLine, sizeLine + length);
        data.insert(data.end(), piece->begin(), piece->end());
        data.push_back('\r');
        data.push_back('\n');
    } else {
        data = std::move(*piece);
    }
    writeData(std::move(data), [this, chunked, finish](bool success) {
        if (success)
            writeBody(chunked);
        else
            finish(false);
    });
}

void HttpServerConnection::abortRequest(int statusCode)
{
    statusCode_ = statusCode;
    writeData(bytesOf(headText(statusCode, nullptr)), [this](bool) { end(); });
}

void HttpServerConnection::close()
{
    const std::string local = localAddressString();
    const std::string remote = remoteAddressString();
    if (request_ && handler_) {
        HttpServerLog::log(HttpServerLog::Verbose, "[%s] %s %i \"%s %s\" (%llu | %llu)", local.c_str(), remote.c_str(), statusCode_,
            virtualHEAD_ ? "HEAD" : request_->method().c_str(), request_->path().c_str(),
            static_cast<unsigned long long>(totalBytesRead_), static_cast<unsigned long long>(totalBytesWritten_));
    } else {
        HttpServerLog::log(HttpServerLog::Verbose, "[%s] %s %i \"(invalid request)\" (%llu | %llu)", local.c_str(), remote.c_str(),
            statusCode_, static_cast<unsigned long long>(totalBytesRead_), static_cast<unsigned long long>(totalBytesWritten_));
    }
}

#include "WebServer/HttpServerConnection.h"

#include "Utils/SameThreadCompletion.h"
#include "WebServer/HttpServer.h"
#include "WebServer/HttpServerLog.h"

#include <sys/socket.h>

namespace {

// What a connection reads and drops of a body it answered without, and for how long, before it closes
// anyway: enough for what a client sends before it sees the answer, far short of the body's own cap.
constexpr uint64_t kMaxDrainedBytes = 1 << 20;
constexpr auto kLingerTime = std::chrono::seconds(5);

std::string addressText(const std::vector<uint8_t>& data)
{
    if (data.empty())
        return {};
    return HttpServerFunctions::socketAddressText(reinterpret_cast<const sockaddr*>(data.data()), static_cast<socklen_t>(data.size()), true);
}

}  // namespace

HttpServerConnection::HttpServerConnection(std::shared_ptr<HttpServer> server, int socket, std::vector<uint8_t> localAddressData,
    std::vector<uint8_t> remoteAddressData)
    : server_(std::move(server)),
      queue_(SerialQueue::create("HttpServerConnection")),
      localAddressData_(std::move(localAddressData)),
      remoteAddressData_(std::move(remoteAddressData)),
      socket_(socket, queue_,
          {.progressed = [this] { deadlines_.noteProgress(); },
              .didRead =
                  [this](size_t length) {
                      deadlines_.noteBytes(length);
                      didReadBytes(length);
                  },
              .didWrite =
                  [this](size_t length) {
                      deadlines_.noteBytes(length);
                      didWriteBytes(length);
                  },
              .failed = [this] { end(); }}),
      reader_(*server_, socket_, deadlines_, {.abort = [this](int statusCode) { abortRequest(statusCode); }, .end = [this] { end(); }}),
      writer_(*server_, socket_, queue_)
{
}

HttpServerConnection::~HttpServerConnection() = default;

void HttpServerConnection::start()
{
    self_ = shared_from_this();
    deadlines_.setHeadDeadline(DispatchQueue::Clock::now() + server_->requestHeadTimeout());
    server_->willStartConnection(*this);
    auto begin = [self = self_] {
        if (!self->open()) {
            self->end();
            return;
        }
        self->opened_ = true;
        self->deadlines_.noteProgress();
        self->reader_.readHead([connection = self.get()] { connection->dispatchHead(); });
    };
    // The queue is new and idle (only the stalled-connection sweep could have reached it so far), so the
    // first steps, and with them the whole of a request that has arrived, usually run here on the
    // accepting thread, holding the queue as any of its tasks would: posting them would cost a hand-off
    // to another worker, where the connection's data is cold.
    if (!queue_->runIfIdle(begin))
        queue_->async(std::move(begin));
}

std::string HttpServerConnection::localAddressString() const { return addressText(localAddressData_); }

std::string HttpServerConnection::remoteAddressString() const { return addressText(remoteAddressData_); }

bool HttpServerConnection::isUsingIPv6() const
{
    return localAddressData_.size() >= sizeof(sa_family_t) && reinterpret_cast<const sockaddr*>(localAddressData_.data())->sa_family == AF_INET6;
}

void HttpServerConnection::endIfStalled(const HttpServerConnectionDeadlines::Limits& limits, DispatchQueue::Clock::time_point now)
{
    if (!deadlines_.stalledReason(limits, now))
        return;
    // Looked at again on the queue: progress may come between here and there.
    queue_->async([self = shared_from_this(), limits, now] {
        const char* reason = self->socket_.isOpen() ? self->deadlines_.stalledReason(limits, now) : nullptr;
        if (!reason)
            return;
        HttpServerLog::log(HttpServerLog::Error, "%s on socket %i", reason, self->socket_.descriptor());
        // A stalled peer gets no lingering close.
        self->draining_ = true;
        self->end();
    });
}

void HttpServerConnection::end()
{
    if (!socket_.isOpen())
        return;
    if (bodyLeftUnread_ && !draining_) {
        drainThenEnd();
        return;
    }
    const auto keep = shared_from_this();  // self_ may hold the last reference
    deadlines_.stop();
    socket_.close();
    if (opened_)
        close();
    server_->didEndConnection(*this);
    request_.reset();
    self_.reset();
}

// Closing with the body still arriving would reset the connection, and the peer could lose the answer
// with it. So the answer is followed by the end of our stream, and what still comes is read and dropped
// until the peer closes, up to a cap; a peer that stalls meanwhile is ended by the idle sweep.
void HttpServerConnection::drainThenEnd()
{
    draining_ = true;
    deadlines_.pauseIdleWatch();
    deadlines_.setCloseDeadline(DispatchQueue::Clock::now() + kLingerTime);
    socket_.shutdownWrite();
    drainSome();
}

void HttpServerConnection::drainSome()
{
    socket_.readSome([this](std::span<const uint8_t> data) {
        drainedBytes_ += data.size();
        if (drainedBytes_ >= kMaxDrainedBytes)
            end();
        else
            drainSome();
    });
}

void HttpServerConnection::dispatchHead()
{
    const HttpServerHeadParser& head = reader_.head();
    std::string method = head.method();
    if (server_->shouldAutomaticallyMapHEADToGET() && method == "HEAD") {
        virtualHEAD_ = true;
        method = "GET";
    }
    const HttpServerRequest::Headers& headers = head.headers();
    const std::string url = rewriteRequestURL(head.target(), method, headers);
    std::string path;
    std::string queryText;
    if (!HttpServerHeadParser::splitTarget(url, path, queryText)) {
        abortRequest(400);
        return;
    }
    const HttpServerRequest::Query query = HttpServerFunctions::parseURLEncodedForm(queryText);
    // A head whose body framing is not ours to read is refused before any handler sees it.
    if (const int refused = HttpServerRequest::framingStatus(headers)) {
        HttpServerLog::log(HttpServerLog::Error, "Unsupported body framing on socket %i", socket_.descriptor());
        abortRequest(refused);
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
    bodyLeftUnread_ = request_->hasBody();
    // Credentials and every refusal are decided from the head: the answer goes out before any
    // "100 Continue" and before a byte of the body is stored, and the body is drained, not read in.
    if (auto response = preflightRequest(*request_)) {
        finishProcessing(std::move(response));
        return;
    }
    if (auto refusal = request_->refusal()) {
        finishProcessing(std::move(refusal));
        return;
    }
    // A GET's body means nothing to it.
    if (!bodyLeftUnread_ || request_->answersBeforeBody() || method == "GET") {
        startProcessing();
        return;
    }
    deadlines_.watchRate();
    reader_.readBody(request_, [this] {
        bodyLeftUnread_ = false;
        startProcessing();
    });
}

void HttpServerConnection::startProcessing()
{
    deadlines_.pauseIdleWatch();
    // A handler that answers at once is followed in this task; a later answer, from wherever it comes,
    // is taken up on the queue.
    auto completed = std::make_shared<std::atomic<bool>>(false);
    auto answer = SameThreadCompletion<std::shared_ptr<HttpServerResponse>>::call(
        [this, completed](auto completion) {
            processRequest(request_, [completed, completion = std::move(completion)](std::shared_ptr<HttpServerResponse> response) {
                if (!completed->exchange(true))
                    completion(std::move(response));
            });
        },
        [self = shared_from_this()](std::shared_ptr<HttpServerResponse> response) {
            self->queue_->async([self, response = std::move(response)]() mutable { self->finishProcessing(std::move(response)); });
        });
    if (answer)
        finishProcessing(std::move(std::get<0>(*answer)));
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
    if (!socket_.isOpen())
        return;
    deadlines_.watchRate();
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
                HttpServerLog::log(HttpServerLog::Error, "Failed opening response body for socket %i: %s", socket_.descriptor(),
                    error.description.c_str());
                response.reset();
            }
        }
    }
    if (!response) {
        abortRequest(500);
        return;
    }
    statusCode_ = response->statusCode();
    if (bodyOpen)
        writer_.writeResponse(std::move(response), weak_from_this(), [this] { end(); });
    else
        writer_.writeHead(statusCode_, response.get(), [this] { end(); });
}

void HttpServerConnection::abortRequest(int statusCode)
{
    statusCode_ = statusCode;
    deadlines_.watchRate();
    writer_.writeHead(statusCode, nullptr, [this] { end(); });
}

void HttpServerConnection::close()
{
    // The address texts cost a look-up each: not made for a line that would be dropped.
    if (HttpServerLog::logLevel() > HttpServerLog::Verbose)
        return;
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

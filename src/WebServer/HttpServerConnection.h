#pragma once

#include "Platform/SerialQueue.h"
#include "WebServer/HttpServerConnectionDeadlines.h"
#include "WebServer/HttpServerConnectionSocket.h"
#include "WebServer/HttpServerHandler.h"
#include "WebServer/HttpServerRequestReader.h"
#include "WebServer/HttpServerResponseWriter.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class HttpServer;

// Serves exactly one request on one accepted socket, then closes it ("Connection: Close" on every
// answer). Its steps run one after another on its own serial queue; it keeps itself alive from
// start() until the connection ends, and the end closes the socket. The server ends a connection
// that makes no progress (a read or a write) for its idle time-out. The hooks may be overridden.
// It chooses the handler and runs it; reading the request and writing the answer are its reader's
// and writer's.
class HttpServerConnection : public std::enable_shared_from_this<HttpServerConnection> {
public:
    // Takes ownership of the non-blocking socket.
    HttpServerConnection(std::shared_ptr<HttpServer> server, int socket, std::vector<uint8_t> localAddressData,
        std::vector<uint8_t> remoteAddressData);
    virtual ~HttpServerConnection();
    HttpServerConnection(const HttpServerConnection&) = delete;
    HttpServerConnection& operator=(const HttpServerConnection&) = delete;

    // Tells the server, runs open() and starts reading the head; the socket is closed at once when
    // open() refuses. These steps, and what follows from them at once, run on the calling thread
    // (holding the connection's queue) unless the queue is busy.
    void start();

    HttpServer& server() const { return *server_; }
    const std::vector<uint8_t>& localAddressData() const { return localAddressData_; }
    const std::vector<uint8_t>& remoteAddressData() const { return remoteAddressData_; }
    std::string localAddressString() const;
    std::string remoteAddressString() const;
    bool isUsingIPv6() const;
    uint64_t totalBytesRead() const { return totalBytesRead_; }
    uint64_t totalBytesWritten() const { return totalBytesWritten_; }
    // Ends the connection when one of its phases is past its limits (see HttpServerConnectionDeadlines).
    // Any thread.
    void endIfStalled(const HttpServerConnectionDeadlines::Limits& limits, DispatchQueue::Clock::time_point now);

protected:
    // Hooks, in the order they run.
    virtual bool open() { return true; }
    virtual void didReadBytes(size_t length) { totalBytesRead_ += length; }
    virtual std::string rewriteRequestURL(const std::string& url, const std::string& method, const HttpServerRequest::Headers& headers);
    // Authentication; nullptr lets the request through.
    virtual std::shared_ptr<HttpServerResponse> preflightRequest(const HttpServerRequest& request);
    virtual void processRequest(std::shared_ptr<HttpServerRequest> request, HttpServerHandler::Completion completion);
    // Conditional requests (304 / 412).
    virtual std::shared_ptr<HttpServerResponse> overrideResponse(std::shared_ptr<HttpServerResponse> response, const HttpServerRequest& request);
    virtual void didWriteBytes(size_t length) { totalBytesWritten_ += length; }
    // Writes a head with only "Connection", "Server" and "Date", then ends.
    virtual void abortRequest(int statusCode);
    // Writes the access log line.
    virtual void close();

    const std::shared_ptr<HttpServerRequest>& request() const { return request_; }
    int statusCode() const { return statusCode_; }

private:
    void end();
    // Ends a connection whose request body was left unread, without losing the answer.
    void drainThenEnd();
    void drainSome();
    void dispatchHead();
    void startProcessing();
    void finishProcessing(std::shared_ptr<HttpServerResponse> response);

    const std::shared_ptr<HttpServer> server_;
    const std::shared_ptr<SerialQueue> queue_;
    const std::vector<uint8_t> localAddressData_;
    const std::vector<uint8_t> remoteAddressData_;
    std::shared_ptr<HttpServerConnection> self_;
    HttpServerConnectionDeadlines deadlines_;
    HttpServerConnectionSocket socket_;
    HttpServerRequestReader reader_;
    HttpServerResponseWriter writer_;
    bool opened_ = false;
    bool virtualHEAD_ = false;
    bool bodyLeftUnread_ = false;
    bool draining_ = false;
    uint64_t drainedBytes_ = 0;
    std::shared_ptr<HttpServerHandler> handler_;
    std::shared_ptr<HttpServerRequest> request_;
    int statusCode_ = 0;
    std::atomic<uint64_t> totalBytesRead_{0};
    std::atomic<uint64_t> totalBytesWritten_{0};
};

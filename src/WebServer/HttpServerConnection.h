#pragma once

#include "Platform/DispatchSource.h"
#include "Platform/SerialQueue.h"
#include "WebServer/HttpServerChunkParser.h"
#include "WebServer/HttpServerHandler.h"
#include "WebServer/HttpServerHeadParser.h"

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
class HttpServerConnection : public std::enable_shared_from_this<HttpServerConnection> {
public:
    // Takes ownership of the non-blocking socket.
    HttpServerConnection(std::shared_ptr<HttpServer> server, int socket, std::vector<uint8_t> localAddressData,
        std::vector<uint8_t> remoteAddressData);
    virtual ~HttpServerConnection();
    HttpServerConnection(const HttpServerConnection&) = delete;
    HttpServerConnection& operator=(const HttpServerConnection&) = delete;

    // Tells the server, runs open() and starts reading the head; the socket is closed at once when
    // open() refuses.
    void start();

    HttpServer& server() const { return *server_; }
    const std::vector<uint8_t>& localAddressData() const { return localAddressData_; }
    const std::vector<uint8_t>& remoteAddressData() const { return remoteAddressData_; }
    std::string localAddressString() const;
    std::string remoteAddressString() const;
    bool isUsingIPv6() const;
    uint64_t totalBytesRead() const { return totalBytesRead_; }
    uint64_t totalBytesWritten() const { return totalBytesWritten_; }
    // Ends the connection when it waits on its peer and has made no progress since `idleLimit`, or
    // when its head has not arrived whole by its deadline. Any thread.
    void endIfStalled(DispatchQueue::Clock::time_point idleLimit, DispatchQueue::Clock::time_point now);

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
    using DataHandler = std::function<void(std::span<const uint8_t> data)>;
    using DoneHandler = std::function<void(bool success)>;

    bool watch(std::unique_ptr<DispatchSource>& source, DispatchSource::Kind kind);
    void readSome(DataHandler onData);
    void onReadable();
    // False when nothing has arrived yet.
    bool receive();
    void writeData(std::vector<uint8_t> data, DoneHandler onDone);
    void onWritable();
    void noteProgress();
    void end();

    void readHead();
    void dispatchHead();
    void readBodyByLength(uint64_t remaining);
    void readChunkedBody(std::span<const uint8_t> data);
    bool writeBodyData(std::span<const uint8_t> data);
    void failBody(const char* what);
    void finishBody();
    void startProcessing();
    void finishProcessing(std::shared_ptr<HttpServerResponse> response);
    void writeBody(bool chunked);
    void writeBodyPiece(bool chunked, HttpServerBodyReader::Piece piece, const HttpError& error);
    std::string headText(int statusCode, const HttpServerResponse* response) const;

    const std::shared_ptr<HttpServer> server_;
    const std::shared_ptr<SerialQueue> queue_;
    int socket_;
    const std::vector<uint8_t> localAddressData_;
    const std::vector<uint8_t> remoteAddressData_;
    std::shared_ptr<HttpServerConnection> self_;
    std::unique_ptr<DispatchSource> readSource_;
    std::unique_ptr<DispatchSource> writeSource_;
    DataHandler onData_;
    bool triedFirstRead_ = false;
    std::vector<uint8_t> unsentHead_;
    std::vector<uint8_t> writeBuffer_;
    size_t writeOffset_ = 0;
    DoneHandler onWritten_;
    bool opened_ = false;
    bool ended_ = false;
    bool virtualHEAD_ = false;
    HttpServerHeadParser headParser_;
    std::unique_ptr<HttpServerChunkParser> chunkParser_;
    HttpError bodyError_;
    uint64_t bodyLength_ = 0;  // received so far, before any content decoding
    std::shared_ptr<HttpServerHandler> handler_;
    std::shared_ptr<HttpServerRequest> request_;
    std::shared_ptr<HttpServerResponse> response_;
    int statusCode_ = 0;
    std::atomic<uint64_t> totalBytesRead_{0};
    std::atomic<uint64_t> totalBytesWritten_{0};
    // Clock ticks of the last progress; kNotWatched while a handler works and once ended.
    static constexpr DispatchQueue::Clock::rep kNotWatched = DispatchQueue::Clock::rep{-1};
    std::atomic<DispatchQueue::Clock::rep> lastProgress_{kNotWatched};
    // Clock ticks by which the head must have arrived; kNotWatched once it has, and once ended.
    std::atomic<DispatchQueue::Clock::rep> headDeadline_{kNotWatched};
};

#pragma once

#include "WebServer/HttpError.h"
#include "WebServer/HttpServerChunkParser.h"
#include "WebServer/HttpServerConnectionDeadlines.h"
#include "WebServer/HttpServerConnectionSocket.h"
#include "WebServer/HttpServerHeadParser.h"

#include <functional>
#include <memory>

class HttpServer;
class HttpServerRequest;

// Reads a connection's request head, then the body into the chosen request object: by length or in
// chunks, after "100 Continue" when asked, within the server's body cap. Runs on the connection's queue.
class HttpServerRequestReader {
public:
    struct Failure {
        std::function<void(int statusCode)> abort;  // answer a bare head, then end
        std::function<void()> end;                  // end without an answer
    };

    HttpServerRequestReader(const HttpServer& server, HttpServerConnectionSocket& socket, HttpServerConnectionDeadlines& deadlines,
        Failure failure);

    // onHead runs once the head has arrived whole and parsed; head() holds it.
    void readHead(std::function<void()> onHead);
    const HttpServerHeadParser& head() const { return headParser_; }
    // Reads the request's body (which it must have) into it and closes it, then onBody runs.
    void readBody(std::shared_ptr<HttpServerRequest> request, std::function<void()> onBody);

private:
    void openBody();
    void readBodyByLength(uint64_t remaining);
    void readChunkedBody(std::span<const uint8_t> data);
    bool writeBodyData(std::span<const uint8_t> data);
    void refuseBody(const HttpError& error);
    // Logs what failed with the body's error and answers 413 or 500.
    void abortForBodyError(const char* what);
    void failBody(const char* what);
    void finishBody();

    const HttpServer& server_;
    HttpServerConnectionSocket& socket_;
    HttpServerConnectionDeadlines& deadlines_;
    const Failure failure_;
    HttpServerHeadParser headParser_;
    std::shared_ptr<HttpServerRequest> request_;
    std::function<void()> onBody_;
    std::unique_ptr<HttpServerChunkParser> chunkParser_;
    HttpError bodyError_;
    uint64_t bodyLength_ = 0;  // received so far, before any content decoding
};

#pragma once

#include "WebServer/HttpServerBodyReader.h"
#include "WebServer/HttpServerConnectionSocket.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class HttpServer;
class HttpServerResponse;

// Writes a connection's answer: the head, then the response's body piece by piece (in chunks when the
// response says so). The head goes out with the first piece: one send for a small answer. Runs on
// the connection's queue.
class HttpServerResponseWriter {
public:
    HttpServerResponseWriter(const HttpServer& server, HttpServerConnectionSocket& socket, std::shared_ptr<SerialQueue> queue);

    // The status line and "Connection", "Server" and "Date", then the response's own fields when
    // there is one, ending in the blank line.
    std::vector<uint8_t> head(int statusCode, const HttpServerResponse* response) const;
    // The head alone; onDone runs whatever the outcome.
    void writeHead(int statusCode, const HttpServerResponse* response, std::function<void()> onDone);
    // The head and the response's opened body, which is closed at the end; then onDone. The owner is
    // held alive while a piece is being read.
    void writeResponse(std::shared_ptr<HttpServerResponse> response, std::weak_ptr<void> owner, std::function<void()> onDone);

private:
    void writeBody();
    // True when the piece went out at once and the next one may be read.
    bool writePiece(HttpServerBodyReader::Piece piece, const HttpError& error);
    void write(std::vector<std::vector<uint8_t>> parts, std::function<void(bool success)> onWritten);
    void finish();

    const HttpServer& server_;
    HttpServerConnectionSocket& socket_;
    const std::shared_ptr<SerialQueue> queue_;
    std::shared_ptr<HttpServerResponse> response_;
    std::weak_ptr<void> owner_;  // weak: the owner holds this writer
    bool chunked_ = false;
    std::function<void()> onDone_;
    std::vector<uint8_t> unsentHead_;
};

#pragma once

#include "Platform/DispatchSource.h"
#include "WebServer/HttpServerBodyReader.h"
#include "Platform/SerialQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

// A connection's non-blocking socket: one read or one write at a time, each step on the connection's
// queue. Its owner keeps itself alive while the socket is open, so the steps may call it back freely;
// once closed, no handler runs again.
class HttpServerConnectionSocket {
public:
    using DataHandler = std::function<void(std::span<const uint8_t> data)>;
    using DoneHandler = std::function<void(bool success)>;
    struct Events {
        std::function<void()> progressed;             // bytes moved, either way
        std::function<void(size_t length)> didRead;
        std::function<void(size_t length)> didWrite;  // a write's parts once all are out, a file's bytes as they go
        std::function<void()> failed;                 // reading failed or the peer closed: the owner ends
    };

    // Takes ownership of the socket.
    HttpServerConnectionSocket(int socket, std::shared_ptr<SerialQueue> queue, Events events);
    ~HttpServerConnectionSocket();
    HttpServerConnectionSocket(const HttpServerConnectionSocket&) = delete;
    HttpServerConnectionSocket& operator=(const HttpServerConnectionSocket&) = delete;

    int descriptor() const { return socket_; }
    bool isOpen() const { return socket_ >= 0; }
    // onData gets the next bytes that arrive; they are valid only during the call.
    void readSome(DataHandler onData);
    // Sends the parts in order, as if joined, but without joining them: a large body goes out from
    // the buffer it came in.
    void write(std::vector<std::vector<uint8_t>> parts, DoneHandler onDone);
    // The parts, then the stretch of the file, sent by the kernel from the file to the socket
    // without passing through a buffer here. The file must stay open until onDone.
    void write(std::vector<std::vector<uint8_t>> parts, HttpServerFileRegion file, DoneHandler onDone);
    // Sends the end of the stream after what was written; reading goes on.
    void shutdownWrite();
    // Closes the socket; pending handlers are dropped.
    void close();

private:
    bool watch(std::unique_ptr<DispatchSource>& source, DispatchSource::Kind kind);
    void onReadable();
    // False when nothing has arrived yet.
    bool receive();
    void onWritable();
    // False when the write has ended (done or failed) or waits for the socket.
    bool sendParts();
    // True once the file's stretch is out.
    bool sendFile();
    void finishWrite(bool success);

    int socket_;
    const std::shared_ptr<SerialQueue> queue_;
    const Events events_;
    std::unique_ptr<DispatchSource> readSource_;
    std::unique_ptr<DispatchSource> writeSource_;
    DataHandler onData_;
    bool triedFirstRead_ = false;
    uint64_t bytesRead_ = 0;
    std::vector<std::vector<uint8_t>> parts_;
    size_t partIndex_ = 0;   // the first part not wholly sent
    size_t partOffset_ = 0;  // what of it is sent
    size_t writeLength_ = 0;
    HttpServerFileRegion file_;  // what of the file is still to send
    DoneHandler onWritten_;
    // Closes the socket once this and every readiness source's cancel handler have let go of it.
    std::shared_ptr<void> closer_;
};

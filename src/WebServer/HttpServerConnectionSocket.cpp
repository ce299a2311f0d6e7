#include "WebServer/HttpServerConnectionSocket.h"

#include "WebServer/HttpServerLog.h"

#include <cerrno>
#include <cstring>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

constexpr size_t kReadBufferLength = 262144;
// More than any write of a connection holds (head, chunk size line, data, line end).
constexpr size_t kMaxParts = 8;
// What one sendfile call may be asked for; the kernel sends at most the socket's free buffer anyway.
constexpr uint64_t kMaxSendFileStep = 1 << 30;

}  // namespace

HttpServerConnectionSocket::HttpServerConnectionSocket(int socket, std::shared_ptr<SerialQueue> queue, Events events)
    : socket_(socket), queue_(std::move(queue)), events_(std::move(events)), closer_(nullptr, [socket](void*) {
          if (::close(socket) != 0) {
              const int code = errno;
              HttpServerLog::log(HttpServerLog::Error, "Failed closing socket %i for connection: %s (%i)", socket, strerror(code), code);
          }
      })
{
}

HttpServerConnectionSocket::~HttpServerConnectionSocket() = default;

// Readiness sources are made only when the socket first has to be waited on: a small request
// usually arrives with the connection and its answer fits the send buffer, and then none is needed.
// The handlers take `this` bare: the sources go in close(), on this queue, and no handler begins after.
bool HttpServerConnectionSocket::watch(std::unique_ptr<DispatchSource>& source, DispatchSource::Kind kind)
{
    if (!source) {
        // The cancel handler holds the descriptor open until the source has left the reactor: closed
        // earlier, its number could be reused by then and the reactor would let go of the wrong one.
        source = DispatchSource::create(
            socket_, kind, queue_, [this, kind] { kind == DispatchSource::Kind::Read ? onReadable() : onWritable(); },
            [closer = closer_] {});
        if (!source) {
            HttpServerLog::log(HttpServerLog::Error, "Cannot watch socket %i", socket_);
            events_.failed();
            return false;
        }
    }
    source->resume();
    return true;
}

void HttpServerConnectionSocket::readSome(DataHandler onData)
{
    onData_ = std::move(onData);
    if (!readSource_ && !triedFirstRead_) {
        triedFirstRead_ = true;
        if (receive())
            return;
    }
    watch(readSource_, DispatchSource::Kind::Read);
}

void HttpServerConnectionSocket::onReadable()
{
    if (isOpen() && onData_)
        receive();
}

bool HttpServerConnectionSocket::receive()
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
        events_.failed();
        return true;
    }
    if (count == 0) {
        if (bytesRead_ > 0)
            HttpServerLog::log(HttpServerLog::Error, "No more data available on socket %i", socket_);
        else
            HttpServerLog::log(HttpServerLog::Warning, "No data received from socket %i", socket_);
        events_.failed();
        return true;
    }
    bytesRead_ += static_cast<uint64_t>(count);
    events_.progressed();
    events_.didRead(static_cast<size_t>(count));
    const DataHandler onData = std::move(onData_);
    onData_ = nullptr;
    onData(std::span<const uint8_t>(readBuffer.data(), static_cast<size_t>(count)));
    return true;
}

void HttpServerConnectionSocket::write(std::vector<std::vector<uint8_t>> parts, DoneHandler onDone)
{
    write(std::move(parts), HttpServerFileRegion{}, std::move(onDone));
}

void HttpServerConnectionSocket::write(std::vector<std::vector<uint8_t>> parts, HttpServerFileRegion file, DoneHandler onDone)
{
    parts_ = std::move(parts);
    partIndex_ = 0;
    partOffset_ = 0;
    writeLength_ = 0;
    for (const auto& part : parts_)
        writeLength_ += part.size();
    file_ = file;
    onWritten_ = std::move(onDone);
    onWritable();
}

void HttpServerConnectionSocket::onWritable()
{
    if (!isOpen() || !onWritten_)
        return;
    if (sendParts() && sendFile())
        finishWrite(true);
}

bool HttpServerConnectionSocket::sendParts()
{
    for (;;) {
        iovec vectors[kMaxParts];
        size_t vectorCount = 0;
        for (size_t index = partIndex_; index < parts_.size() && vectorCount < kMaxParts; ++index) {
            const size_t skip = index == partIndex_ ? partOffset_ : 0;
            if (parts_[index].size() > skip)
                vectors[vectorCount++] = {parts_[index].data() + skip, parts_[index].size() - skip};
        }
        if (vectorCount == 0)
            break;
        msghdr message{};
        message.msg_iov = vectors;
        message.msg_iovlen = vectorCount;
        // A head followed by a file leaves with the file's first bytes rather than in a packet of its own.
        const ssize_t count = ::sendmsg(socket_, &message, MSG_NOSIGNAL | (file_.length > 0 ? MSG_MORE : 0));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(writeSource_, DispatchSource::Kind::Write);
            return false;
        }
        if (count < 0) {
            const int code = errno;
            HttpServerLog::log(HttpServerLog::Error, "Error while writing to socket %i: %s (%i)", socket_, strerror(code), code);
            finishWrite(false);
            return false;
        }
        // Steps over what went out, part by part.
        size_t sent = static_cast<size_t>(count);
        while (sent > 0) {
            const size_t left = parts_[partIndex_].size() - partOffset_;
            const size_t step = std::min(left, sent);
            partOffset_ += step;
            sent -= step;
            if (partOffset_ == parts_[partIndex_].size()) {
                ++partIndex_;
                partOffset_ = 0;
            }
        }
        events_.progressed();
    }
    // Counted once: the write may come back here from the socket's readiness while the file is sent.
    if (!parts_.empty())
        events_.didWrite(writeLength_);
    parts_.clear();
    return true;
}

bool HttpServerConnectionSocket::sendFile()
{
    while (file_.length > 0) {
        auto offset = static_cast<off_t>(file_.offset);
        const ssize_t count = ::sendfile(socket_, file_.file, &offset, static_cast<size_t>(std::min<uint64_t>(file_.length, kMaxSendFileStep)));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            watch(writeSource_, DispatchSource::Kind::Write);
            return false;
        }
        if (count <= 0) {
            // Nothing to send before the stretch's end: the file was cut short meanwhile.
            const int code = count < 0 ? errno : EIO;
            HttpServerLog::log(HttpServerLog::Error, "Error while sending a file to socket %i: %s (%i)", socket_, strerror(code), code);
            finishWrite(false);
            return false;
        }
        file_.offset += static_cast<uint64_t>(count);
        file_.length -= static_cast<uint64_t>(count);
        events_.progressed();
        events_.didWrite(static_cast<size_t>(count));
    }
    return true;
}

void HttpServerConnectionSocket::finishWrite(bool success)
{
    if (writeSource_)
        writeSource_->suspend();
    parts_.clear();
    file_ = {};
    const DoneHandler onDone = std::move(onWritten_);
    onWritten_ = nullptr;
    onDone(success);
}

void HttpServerConnectionSocket::shutdownWrite()
{
    ::shutdown(socket_, SHUT_WR);
}

void HttpServerConnectionSocket::close()
{
    if (readSource_ || writeSource_)
        ::shutdown(socket_, SHUT_RDWR);  // the peer learns of the end now, even while a source still holds the socket
    readSource_.reset();
    writeSource_.reset();
    onData_ = nullptr;
    onWritten_ = nullptr;
    closer_.reset();
    socket_ = -1;
}

#include "Rozi/NetSocketReadPump.h"

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDescriptor.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketTLS.h"
#include "Rozi/NetSocketTLSStatus.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

namespace {

constexpr size_t kPreBufferCapacity = 4096;
// What one secure read asks of the record layer when it may take any amount.
constexpr size_t kSecureReadLength = 32768;

size_t pendingBytes(int fd)
{
    int pending = 0;
    return ::ioctl(fd, FIONREAD, &pending) == 0 && pending > 0 ? size_t(pending) : 0;
}

bool wouldBlock(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

} // namespace

NetSocketReadPump::NetSocketReadPump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls)
    : NetSocketPump(context, closer, tls,
          {DispatchSource::Kind::Read, NetSocketFlag::ReadSourceSuspended, NetSocketFlag::StartingReadTLS,
              NetSocketFlag::ReadsPaused, &NetSocketDelegate::shouldTimeoutReadWithTag, &NetSocketError::readTimeout}),
      preBuffer_(kPreBufferCapacity)
{
}

NetSocketReadPump::~NetSocketReadPump() = default;

void NetSocketReadPump::queueEmptied()
{
    if (context_.has(NetSocketFlag::DisconnectAfterReads)) {
        closer_.maybeClose();
    } else if (context_.has(NetSocketFlag::SocketSecure)) {
        tls_.flushSSLBuffers(preBuffer_);
        if (preBuffer_.availableBytes() == 0)
            source_.resume();
    }
}

bool NetSocketReadPump::attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner)
{
    if (!source_.attach(fd, owner, [this] { onReadable(); }))
        return false;
    bytesAvailable_ = 0;
    source_.resume();
    return true;
}

void NetSocketReadPump::clear()
{
    NetSocketPump::clear();
    preBuffer_.reset();
    bytesAvailable_ = 0;
}

std::shared_ptr<const NetSocketTLSSettings> NetSocketReadPump::currentTLSSettings() const
{
    return packets_.current() ? packets_.current()->tlsSettings : nullptr;
}

void NetSocketReadPump::onReadable()
{
    const int fd = context_.connectedFD();
    bytesAvailable_ = pendingBytes(fd);
    if (bytesAvailable_ > 0) {
        doReadData();
        return;
    }
    // Readiness without bytes is the end of the stream, unless a read queued ahead of this call took
    // the bytes the event was for.
    uint8_t byte = 0;
    const ssize_t peeked = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        bytesAvailable_ = std::max<size_t>(pendingBytes(fd), 1);
        doReadData();
    } else if (peeked == 0 || !wouldBlock(errno)) {
        doReadEOF();
    }
}

void NetSocketReadPump::doReadData()
{
    const bool secure = context_.has(NetSocketFlag::SocketSecure);
    if (!packets_.current() || context_.has(NetSocketFlag::ReadsPaused)) {
        if (secure)
            tls_.flushSSLBuffers(preBuffer_);
        if (bytesAvailable_ > 0)
            source_.suspend();
        return;
    }
    // A read made current while bytes wait takes them at once rather than after another readiness event.
    if (bytesAvailable_ == 0 && preBuffer_.availableBytes() == 0)
        bytesAvailable_ = pendingBytes(context_.connectedFD());
    const size_t buffered = secure ? tls_.bufferedBytes() : 0;
    if (bytesAvailable_ == 0 && buffered == 0 && preBuffer_.availableBytes() == 0) {
        source_.resume();
        return;
    }
    if (waitAtTLSStart())
        return;

    bool done = false;
    bool waiting = false;
    bool endOfStream = context_.has(NetSocketFlag::SocketHasReadEOF);
    std::optional<NetSocketError> error;
    size_t taken = 0;
    if (preBuffer_.availableBytes() > 0)
        taken += takeFromPreBuffer(&done, &error);
    if (!done && !error && !endOfStream && bytesAvailable_ + buffered > 0)
        taken += takeFromDescriptor(&done, &waiting, &endOfStream, &error);
    if (!done && packets_.current()->readsAvailable())
        done = taken > 0;

    if (done) {
        completeCurrentRead();
        if (!error && (!endOfStream || preBuffer_.availableBytes() > 0))
            maybeDequeue();
    } else if (taken > 0) {
        context_.notifier.post(NetSocketDelegate::DidReadPartialData, 
            [socket = context_.self.lock(), taken, tag = packets_.current()->tag](
                NetSocketDelegate& delegate) { delegate.didReadPartialDataOfLength(socket, taken, tag); });
    }

    if (error)
        closer_.closeWithError(std::move(error));
    else if (endOfStream)
        doReadEOF();
    else if (waiting)
        source_.resume();
    else if (secure && !done)
        // The record layer may hold more than one pass took, with nothing left to signal it.
        context_.socketQueue->async([weak = context_.self, this] {
            if (const auto socket = weak.lock())
                doReadData();
        });
}

size_t NetSocketReadPump::takeFromPreBuffer(bool* done, std::optional<NetSocketError>* error)
{
    NetSocketReadPacket& read = *packets_.current();
    bool found = false;
    const size_t length = read.readsToTerm() ? read.readLengthForTermWithPreBuffer(preBuffer_, &found)
                                             : read.readLengthForNonTermWithHint(preBuffer_.availableBytes());
    read.ensureCapacityForAdditionalDataOfLength(length);
    std::memcpy(read.writePosition(), preBuffer_.readBuffer(), length);
    preBuffer_.didRead(length);
    read.bytesDone += length;
    if (read.readLength > 0) {
        *done = read.bytesDone == read.readLength;
    } else if (read.readsToTerm()) {
        *done = found;
        if (!found && read.maxLength > 0 && read.bytesDone >= read.maxLength)
            *error = NetSocketError::readMaxedOut();
    } else {
        *done = read.maxLength > 0 && read.bytesDone == read.maxLength;
    }
    return length;
}

size_t NetSocketReadPump::takeFromDescriptor(
    bool* done, bool* waiting, bool* endOfStream, std::optional<NetSocketError>* error)
{
    NetSocketReadPacket& read = *packets_.current();
    bool intoPreBuffer = false;
    const bool secure = context_.has(NetSocketFlag::SocketSecure);
    // A secure read asks for more than the raw estimate, which the records' overhead makes too small.
    const size_t estimate = bytesAvailable_ + (secure ? tls_.bufferedBytes() : 0);
    const size_t hint = !secure ? estimate : estimate > kSecureReadLength ? estimate + 16384 : kSecureReadLength;
    size_t length = 0;
    if (read.readsToTerm())
        length = read.readLengthForTermWithHint(hint, &intoPreBuffer);
    else if (secure && read.readLength > 0)
        length = read.readLength - read.bytesDone; // so a full pass leaves nothing undecrypted behind
    else
        length = read.readLengthForNonTermWithHint(hint);
    uint8_t* target = nullptr;
    if (intoPreBuffer) {
        preBuffer_.ensureCapacityForWrite(length);
        target = preBuffer_.writeBuffer();
    } else {
        read.ensureCapacityForAdditionalDataOfLength(length);
        target = read.writePosition();
    }

    const size_t bytesRead = receive(target, length, waiting, endOfStream, error);
    if (bytesRead == 0)
        return 0;

    if (read.readLength > 0) {
        read.bytesDone += bytesRead;
        *done = read.bytesDone == read.readLength;
        return bytesRead;
    }
    if (!read.readsToTerm()) {
        read.bytesDone += bytesRead;
        *done = true;
        return bytesRead;
    }
    size_t taken = 0;
    if (intoPreBuffer) {
        preBuffer_.didWrite(bytesRead);
        taken = takeFromPreBuffer(done, error);
        return taken;
    }
    const ssize_t overflow = read.searchForTermAfterPreBuffering(bytesRead);
    taken = overflow > 0 ? bytesRead - size_t(overflow) : bytesRead;
    if (overflow > 0) {
        // The bytes past the terminator wait in the pre-buffer for the next read.
        preBuffer_.ensureCapacityForWrite(size_t(overflow));
        std::memcpy(preBuffer_.writeBuffer(), read.writePosition() + taken, size_t(overflow));
        preBuffer_.didWrite(size_t(overflow));
    }
    read.bytesDone += taken;
    *done = overflow >= 0;
    if (!*done && read.maxLength > 0 && read.bytesDone >= read.maxLength)
        *error = NetSocketError::readMaxedOut();
    return taken;
}

size_t NetSocketReadPump::receive(
    uint8_t* target, size_t length, bool* waiting, bool* endOfStream, std::optional<NetSocketError>* error)
{
    if (context_.has(NetSocketFlag::SocketSecure)) {
        size_t got = 0;
        const long status = tls_.read(target, length, &got);
        if (status == NetSocketTLSStatus::ClosedGraceful || status == NetSocketTLSStatus::ClosedAbort)
            *endOfStream = true;
        if (status == NetSocketTLSStatus::WouldBlock || *endOfStream)
            *waiting = true;
        else if (status != NetSocketTLSStatus::Success)
            *error = NetSocketTLSStatus::error(status);
        return got;
    }
    const ssize_t result = ::read(context_.connectedFD(), target, length);
    if (result < 0) {
        if (wouldBlock(errno))
            *waiting = true;
        else
            *error = NetSocketError::posix(errno, "Error in read() function");
        bytesAvailable_ = 0;
        return 0;
    }
    if (result == 0) {
        *waiting = true;
        *endOfStream = true;
        bytesAvailable_ = 0;
        return 0;
    }
    const size_t bytesRead = size_t(result);
    bytesAvailable_ = bytesRead < length || bytesAvailable_ <= bytesRead ? 0 : bytesAvailable_ - bytesRead;
    *waiting = bytesAvailable_ == 0;
    return bytesRead;
}

void NetSocketReadPump::completeCurrentRead()
{
    const long tag = packets_.current()->tag;
    context_.notifier.post(NetSocketDelegate::DidReadData, [socket = context_.self.lock(), data = packets_.current()->takeResult(), tag](
                               NetSocketDelegate& delegate) { delegate.didReadData(socket, data, tag); });
    endCurrent();
}

void NetSocketReadPump::doReadEOF()
{
    context_.flags |= NetSocketFlag::SocketHasReadEOF;
    if (context_.has(NetSocketFlag::SocketSecure))
        tls_.flushSSLBuffers(preBuffer_);
    if (context_.has(NetSocketFlag::StartingReadTLS | NetSocketFlag::StartingWriteTLS)) {
        closer_.closeWithError(NetSocketTLSStatus::error(NetSocketTLSStatus::ClosedAbort));
        return;
    }
    bool keepOpen = false;
    if (context_.has(NetSocketFlag::ReadStreamClosed) || preBuffer_.availableBytes() > 0) {
        keepOpen = true; // what is pre-buffered is still served
    } else if (context_.config & NetSocketConfig::AllowHalfDuplexConnection) {
        pollfd writable{context_.connectedFD(), POLLOUT, 0};
        if (::poll(&writable, 1, 0) > 0 && (writable.revents & POLLOUT)) {
            keepOpen = true;
            context_.flags |= NetSocketFlag::ReadStreamClosed;
            context_.notifier.post([socket = context_.self.lock()](
                                       NetSocketDelegate& delegate) { delegate.socketDidCloseReadStream(socket); });
        }
    }
    const long tlsStatus = keepOpen ? 0 : tls_.closeStatus();
    if (keepOpen)
        source_.suspend();
    else if (tlsStatus != 0 && tlsStatus != NetSocketTLSStatus::ClosedGraceful)
        closer_.closeWithError(NetSocketTLSStatus::error(tlsStatus));
    else
        closer_.closeWithError(NetSocketError::connectionClosed());
}

#include "Rozi/NetSocketTLS.h"

#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketReadPump.h"
#include "Rozi/NetSocketTLSConfigurator.h"
#include "Rozi/NetSocketTLSSettings.h"
#include "Rozi/NetSocketTLSStatus.h"
#include "Rozi/NetSocketWritePump.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr size_t kPreBufferCapacity = 4096;
constexpr size_t kWriteSlice = 32768;

bool wouldBlock(int code)
{
    return code == EAGAIN || code == EWOULDBLOCK || code == EINTR;
}

} // namespace

NetSocketTLS::NetSocketTLS(NetSocketContext& context, NetSocketCloser& closer, NetSocketReadPump& readPump,
    NetSocketWritePump& writePump)
    : context_(context), closer_(closer), readPump_(readPump), writePump_(writePump),
      sslPreBuffer_(kPreBufferCapacity)
{
}

NetSocketTLS::~NetSocketTLS() = default;

void NetSocketTLS::queueStart(const std::shared_ptr<const NetSocketTLSSettings>& settings)
{
    if (!context_.has(NetSocketFlag::Started) ||
        context_.has(NetSocketFlag::ForbidReadsWrites | NetSocketFlag::QueuedTLS))
        return;
    context_.flags |= NetSocketFlag::QueuedTLS;
    auto readMarker = std::make_shared<NetSocketReadPacket>(nullptr, 0, 0, -1.0, 0, std::vector<uint8_t>{}, 0);
    auto writeMarker = std::make_shared<NetSocketWritePacket>(std::make_shared<const std::vector<uint8_t>>(), -1.0, 0);
    readMarker->tlsSettings = writeMarker->tlsSettings = settings;
    readPump_.enqueue(std::move(readMarker));
    writePump_.enqueue(std::move(writeMarker));
}

void NetSocketTLS::maybeStartTLS()
{
    if (context_.has(NetSocketFlag::StartingReadTLS) && context_.has(NetSocketFlag::StartingWriteTLS))
        startTLS();
}

void NetSocketTLS::startTLS()
{
    const std::shared_ptr<const NetSocketTLSSettings> settings = readPump_.currentTLSSettings();
    if (!settings) {
        closer_.closeWithError(NetSocketError::other("Logic error"));
        return;
    }
    std::string failure;
    session_ = NetSocketTLSSession::create(settings->isServer(), *this, &failure);
    if (!session_) {
        closer_.closeWithError(NetSocketError::other(failure));
        return;
    }
    if (auto refused = NetSocketTLSConfigurator::apply(*settings, *session_)) {
        closer_.closeWithError(NetSocketError::other(*refused));
        return;
    }
    if (!armHandshakeDeadline(*settings))
        return;
    // Bytes that came in the clear behind the last plain read belong to the handshake.
    NetSocketPreBuffer& plain = readPump_.preBuffer();
    sslPreBuffer_.reset();
    sslPreBuffer_.ensureCapacityForWrite(plain.availableBytes());
    std::memcpy(sslPreBuffer_.writeBuffer(), plain.readBuffer(), plain.availableBytes());
    sslPreBuffer_.didWrite(plain.availableBytes());
    plain.didRead(plain.availableBytes());
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
    // A record is useless to the peer until its last byte arrives: holding that byte back for an
    // acknowledgement (Nagle) stalls every exchange by the peer's delayed-ACK time.
    const int noDelay = 1;
    ::setsockopt(context_.connectedFD(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    continueHandshake();
}

bool NetSocketTLS::armHandshakeDeadline(const NetSocketTLSSettings& settings)
{
    bool present = false;
    const long long* seconds = settings.get<long long>(NetSocketTLSSettings::kHandshakeTimeout, &present);
    if (present && (!seconds || *seconds <= 0)) {
        closer_.closeWithError(NetSocketError::other("Invalid value for NetSocketSSLHandshakeTimeout."));
        return false;
    }
    const long long limit = seconds ? *seconds : NetSocketTLSSettings::kDefaultHandshakeTimeout;
    // On the socket queue; a socket released meanwhile hears nothing.
    handshakeDeadline_ = std::make_unique<DispatchTimer>(context_.socketQueue, [weak = context_.self, this, limit] {
        if (!weak.lock() || !session_ || context_.has(NetSocketFlag::SocketSecure))
            return;
        closer_.closeWithError(NetSocketError::other("TLS handshake not finished within " + std::to_string(limit) + " s"));
    });
    handshakeDeadline_->start(std::chrono::seconds(limit));
    return true;
}

void NetSocketTLS::continueHandshake()
{
    const long status = session_->handshake();
    lastSSLHandshakeError_ = status;
    switch (status) {
    case NetSocketTLSStatus::Success:
        didSecure();
        break;
    case NetSocketTLSStatus::WouldBlock:
        break; // the readiness of either direction continues it
    case NetSocketTLSStatus::PeerAuthCompleted:
        askForTrust();
        break;
    default:
        closer_.closeWithError(NetSocketTLSStatus::error(status));
        break;
    }
}

bool NetSocketTLS::handshakeWouldBlock() const
{
    return lastSSLHandshakeError_ == NetSocketTLSStatus::WouldBlock;
}

void NetSocketTLS::didSecure()
{
    handshakeDeadline_.reset();
    context_.flags &= ~(NetSocketFlag::StartingReadTLS | NetSocketFlag::StartingWriteTLS);
    context_.flags |= NetSocketFlag::SocketSecure;
    context_.notifier.post([socket = context_.self.lock()](NetSocketDelegate& delegate) {
        delegate.socketDidSecure(socket);
    });
    readPump_.endCurrent();
    writePump_.endCurrent();
    readPump_.maybeDequeue();
    writePump_.maybeDequeue();
}

void NetSocketTLS::askForTrust()
{
    const std::shared_ptr<const NetSocketTrust> trust = session_->trust();
    if (!trust) {
        closer_.closeWithError(NetSocketTLSStatus::error(NetSocketTLSStatus::PeerAuthCompleted));
        return;
    }
    // The answer may come on any thread: it returns to the socket queue with the question's number.
    NetSocketTrustCompletion completion([weak = context_.self, queue = context_.socketQueue, this,
                                            generation = trustGeneration_](std::optional<bool> trusted) {
        queue->async([weak, this, generation, trusted] {
            if (const auto socket = weak.lock())
                shouldTrustPeer(trusted, generation);
        });
    });
    const bool asked = context_.notifier.post([socket = context_.self.lock(), trust, completion](
                                                  NetSocketDelegate& delegate) {
        delegate.didReceiveTrust(socket, trust, completion);
    });
    if (!asked)
        shouldTrustPeer(std::nullopt, trustGeneration_);
}

void NetSocketTLS::shouldTrustPeer(std::optional<bool> trusted, uint64_t generation)
{
    if (generation != trustGeneration_ || !session_)
        return;
    ++trustGeneration_;
    if (!trusted) {
        closer_.closeWithError(NetSocketError::other("NetSocketManuallyEvaluateTrust specified in tlsSettings, but "
                                                     "delegate doesn't implement socket:shouldTrustPeer:"));
    } else if (*trusted) {
        session_->trustPeer();
        continueHandshake();
    } else {
        closer_.closeWithError(NetSocketTLSStatus::error(NetSocketTLSStatus::BadCertificate));
    }
}

size_t NetSocketTLS::bufferedBytes() const
{
    return sslPreBuffer_.availableBytes() + (session_ ? session_->buffered() : 0);
}

long NetSocketTLS::read(uint8_t* buffer, size_t length, size_t* got)
{
    const long status = session_->read(buffer, length, got);
    if (status == NetSocketTLSStatus::ClosedGraceful || status == NetSocketTLSStatus::ClosedAbort)
        sslErrCode_ = status;
    return status;
}

long NetSocketTLS::write(const uint8_t* bytes, size_t remaining, size_t* written)
{
    *written = 0;
    while (*written < remaining) {
        const size_t slice = sslWriteCachedLength_ > 0 ? sslWriteCachedLength_ : std::min(kWriteSlice, remaining - *written);
        const long status = session_->write(bytes + *written, slice);
        if (status == NetSocketTLSStatus::WouldBlock)
            sslWriteCachedLength_ = slice;
        if (status != NetSocketTLSStatus::Success)
            return status;
        sslWriteCachedLength_ = 0;
        *written += slice;
    }
    return NetSocketTLSStatus::Success;
}

void NetSocketTLS::flushSSLBuffers(NetSocketPreBuffer& plain)
{
    if (!session_ || plain.availableBytes() > 0)
        return;
    size_t estimate = 0;
    while ((estimate = readPump_.socketFDBytesAvailable() + bufferedBytes()) > 0) {
        plain.ensureCapacityForWrite(estimate);
        size_t got = 0;
        const long status = read(plain.writeBuffer(), estimate, &got);
        plain.didWrite(got);
        if (status != NetSocketTLSStatus::Success)
            break;
    }
}

long NetSocketTLS::closeStatus()
{
    // A descriptor that ended without close_notify was cut off, not closed by the peer's choice.
    if (session_ && sslErrCode_ == 0)
        sslErrCode_ = session_->receivedCloseNotify() ? NetSocketTLSStatus::ClosedGraceful
                                                      : NetSocketTLSStatus::ClosedAbort;
    return sslErrCode_;
}

void NetSocketTLS::close()
{
    handshakeDeadline_.reset();
    if (session_ && context_.has(NetSocketFlag::SocketSecure))
        session_->shutdown();
    session_.reset();
    sslPreBuffer_.reset();
    sslWriteCachedLength_ = 0;
    sslErrCode_ = 0;
    lastSSLHandshakeError_ = 0;
    ++trustGeneration_;
}

long NetSocketTLS::tlsRead(uint8_t* buffer, size_t length, size_t* delivered)
{
    size_t& pending = readPump_.socketFDBytesAvailable();
    *delivered = std::min(length, sslPreBuffer_.availableBytes());
    std::memcpy(buffer, sslPreBuffer_.readBuffer(), *delivered);
    sslPreBuffer_.didRead(*delivered);
    if (*delivered == length)
        return NetSocketTLSStatus::Success;
    if (pending == 0) {
        readPump_.resumeSource();
        return NetSocketTLSStatus::WouldBlock;
    }
    // Read everything the descriptor holds when that is more than asked, so one readiness event
    // is consumed in one read.
    const size_t missing = length - *delivered;
    const bool ahead = missing < pending;
    uint8_t* target = buffer + *delivered;
    if (ahead) {
        sslPreBuffer_.ensureCapacityForWrite(pending);
        target = sslPreBuffer_.writeBuffer();
    }
    const ssize_t result = ::read(context_.connectedFD(), target, ahead ? pending : missing);
    if (result <= 0) {
        const bool waiting = result < 0 && wouldBlock(errno);
        pending = 0;
        if (!waiting)
            return NetSocketTLSStatus::ClosedAbort;
        readPump_.resumeSource();
        return NetSocketTLSStatus::WouldBlock;
    }
    const size_t bytesRead = size_t(result);
    pending = bytesRead >= pending ? 0 : pending - bytesRead;
    if (ahead) {
        sslPreBuffer_.didWrite(bytesRead);
        const size_t copied = std::min(missing, bytesRead);
        std::memcpy(buffer + *delivered, sslPreBuffer_.readBuffer(), copied);
        sslPreBuffer_.didRead(copied);
        *delivered += copied;
    } else {
        *delivered += bytesRead;
    }
    return *delivered == length ? NetSocketTLSStatus::Success : NetSocketTLSStatus::WouldBlock;
}

long NetSocketTLS::tlsWrite(const uint8_t* buffer, size_t length, size_t* written)
{
    *written = 0;
    if (!context_.has(NetSocketFlag::SocketCanAcceptBytes)) {
        writePump_.resumeSource();
        return NetSocketTLSStatus::WouldBlock;
    }
    // MSG_NOSIGNAL: a peer that reset the connection gives EPIPE here, never a signal.
    const ssize_t result = ::send(context_.connectedFD(), buffer, length, MSG_NOSIGNAL);
    if (result <= 0) {
        context_.flags &= ~NetSocketFlag::SocketCanAcceptBytes;
        if (result < 0 && !wouldBlock(errno))
            return NetSocketTLSStatus::ClosedAbort;
        writePump_.resumeSource();
        return NetSocketTLSStatus::WouldBlock;
    }
    *written = size_t(result);
    if (*written < length) {
        context_.flags &= ~NetSocketFlag::SocketCanAcceptBytes;
        writePump_.resumeSource();
        return NetSocketTLSStatus::WouldBlock;
    }
    return NetSocketTLSStatus::Success;
}

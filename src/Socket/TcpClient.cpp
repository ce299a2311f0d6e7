#include "Socket/TcpClient.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/FrameReassembler.h"
#include "Socket/FrameStreamSplitter.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/TcpConnection.h"
#include "Socket/TcpLinkSocket.h"
#include "Socket/TimeStamp.h"
#include "Utils/Log.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Set on each transport thread: the client it works for.
thread_local const TcpClient* transportThreadOf = nullptr;

} // namespace

TcpClient::TcpClient(TcpNativeInfo* listener) : TcpClient(listener, Timing{}) {}

TcpClient::TcpClient(TcpNativeInfo* listener, Timing timing) : listener_(listener), timing_(timing) {}

TcpClient::~TcpClient()
{
    assert(!onTransportThread() && "a transport client is never destroyed from its listener");
    std::unique_lock lock(lifecycleMutex_);
    // A listener call may connect again while the last connection ends: repeat until all is quiet.
    while (current_ || pending_ || !parked_.empty() || teardowns_ > 0) {
        if (pending_) {
            pending_->cancel();
            // The connect may run on a pool worker (the session queue), and so may this wait.
            const DispatchPool::BlockingScope blocking;
            lifecycleChanged_.wait(lock);
            continue;
        }
        lock.unlock();
        disconnect(0);
        lock.lock();
    }
}

bool TcpClient::connect(const std::string& host, uint16_t port)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    if (::inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1) {
        NQLOG("connect: \"%s\" is not an IPv4 address", host.c_str());
        return false;
    }
    // Every earlier connection has ended and raised its last event before a new one starts.
    finishTeardowns(nullptr);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        NQLOG_ERRNO("socket");
        return false;
    }
    {
        std::lock_guard lock(lifecycleMutex_);
        if (current_ || pending_) {
            NQLOG("connect to %s refused: a link is open", host.c_str());
            ::close(fd);
            return false;
        }
        pending_ = PendingConnect{fd};
    }
    const bool made = TcpLinkSocket::connect(fd, peer, timing_.connectTimeout, timing_.sendTimeout);
    ConnectionPtr failed;
    {
        std::lock_guard lock(lifecycleMutex_);
        const bool cancelled = pending_->cancelled;
        pending_.reset();
        lifecycleChanged_.notify_all();
        if (!made || cancelled) {
            if (cancelled)
                NQLOG("connect to %s ended by a disconnect meanwhile", host.c_str());
            ::close(fd);
            return false;
        }
        auto connection = std::make_shared<Connection>(fd, peer, kMaxVideoFrame);
        // Published with its threads under the lock, so a listener call that sends or disconnects
        // at once waits for it, and a disconnect never finds a connection whose threads are starting.
        if (startThreads(*connection)) {
            current_ = std::move(connection);
            return true;
        }
        failed = std::move(connection);
        beginTeardown(failed);
    }
    failed->close(0);
    finishTeardowns(std::move(failed));
    return false;
}

void TcpClient::PendingConnect::cancel()
{
    cancelled = true;
    // Ends the handshake's wait at once. The connect closes the socket only after it has taken
    // itself out of pending_, so this never reaches a descriptor reused meanwhile.
    ::shutdown(fd, SHUT_RDWR);
}

bool TcpClient::startThreads(Connection& connection)
{
    const auto spawn = [this, &connection](auto body) {
        return std::thread([this, &connection, body] {
            transportThreadOf = this;
            ThreadRole::set(ThreadRole::Role::Transport);
            body(connection);
        });
    };
    try {
        connection.receiver = spawn([this](Connection& c) { receiveLoop(c); });
        connection.heartbeat = spawn([this](Connection& c) { c.heartbeatLoop(timing_.heartbeatInterval); });
        connection.audioDelivery = spawn([this](Connection& c) { deliveryLoop(c.audioReceive); });
        connection.videoDelivery = spawn([this](Connection& c) { deliveryLoop(c.videoReceive); });
        connection.sender = spawn([](Connection& c) { c.sendLoop(); });
    } catch (const std::system_error& error) {
        NQLOG("cannot start the link's threads: %s", error.what());
        return false;
    }
    return true;
}

int TcpClient::send(uint16_t type, const uint8_t* data, int length)
{
    const ConnectionPtr connection = currentConnection();
    if (!connection)
        return -1;
    // A negative length is refused: sent empty, its 0 would read as a link that closed meanwhile.
    if (length < 0 || (length > 0 && data == nullptr)) {
        NQLOG("refusing message type 0x%x: %d bytes at %p", type, length, static_cast<const void*>(data));
        return -1;
    }
    return connection->send(type, {data, static_cast<size_t>(length)});
}

void TcpClient::dropQueuedMedia()
{
    if (const ConnectionPtr connection = currentConnection())
        connection->sendLists.clearMedia();
}

void TcpClient::disconnect(uint8_t reason)
{
    ConnectionPtr connection;
    {
        std::lock_guard lock(lifecycleMutex_);
        connection = std::move(current_);
        if (connection)
            beginTeardown(connection);
        else if (pending_)
            pending_->cancel();
    }
    if (connection)
        connection->close(reason);
    finishTeardowns(std::move(connection));
}

void TcpClient::beginTeardown(const ConnectionPtr& connection)
{
    // A transport thread can't join itself, and joining another connection's threads from one
    // could close a cycle of joins: it leaves the joins to another thread.
    if (onTransportThread())
        parked_.push_back(connection);
    else
        ++teardowns_;
}

void TcpClient::finishTeardowns(ConnectionPtr own)
{
    if (onTransportThread())
        return;
    std::vector<ConnectionPtr> joining;
    {
        std::lock_guard lock(lifecycleMutex_);
        joining.swap(parked_);
        teardowns_ += joining.size();
    }
    if (own)
        joining.push_back(std::move(own));
    for (const ConnectionPtr& ended : joining)
        ended->join();
    const size_t joined = joining.size();
    joining.clear();
    std::unique_lock lock(lifecycleMutex_);
    teardowns_ -= joined;
    lifecycleChanged_.notify_all();
    if (teardowns_ > 0) {
        // Another thread joins; this one may be a pool worker (the session queue).
        const DispatchPool::BlockingScope blocking;
        lifecycleChanged_.wait(lock, [this] { return teardowns_ == 0; });
    }
}

bool TcpClient::onTransportThread() const
{
    return transportThreadOf == this;
}

TcpClient::ConnectionPtr TcpClient::currentConnection() const
{
    std::lock_guard lock(lifecycleMutex_);
    return current_;
}

bool TcpClient::isConnectedTo(const std::string& host) const
{
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) != 1)
        return false;
    const ConnectionPtr connection = currentConnection();
    return connection && connection->peer.sin_addr.s_addr == address.s_addr;
}

std::string TcpClient::peerAddress() const
{
    const ConnectionPtr connection = currentConnection();
    return connection ? TcpLinkSocket::dottedAddress(connection->peer.sin_addr) : "0.0.0.0";
}

void TcpClient::raise(int type, const char* text, const uint8_t* data, uint64_t timeStampUs, uint32_t length)
{
    if (listener_ && listener_->fn)
        listener_->fn(listener_->user, this, type, text, data, timeStampUs, length);
}

// Receive thread.
void TcpClient::receiveLoop(Connection& connection)
{
    TcpLinkSocket::prepareForReceiving(connection.fd, timing_.receiveTimeout);

    const std::string peer = TcpLinkSocket::endpointText(connection.peer);
    raise(kMsgConnected, peer.c_str());

    int timeouts = 0;
    FrameReassembler reassembler([&](const ReassembledMessage& message) {
        timeouts = 0;
        // Messages read together with one that ended the link are not handed on.
        if (connection.running)
            dispatch(connection, message);
    });
    FrameStreamSplitter splitter(reassembler);
    while (connection.running) {
        const std::span<uint8_t> space = splitter.writableSpace();
        const ssize_t count = ::recv(connection.fd, space.data(), space.size(), 0);
        if (count < 0) {
            const int error = errno;
            if (error != EAGAIN && error != EWOULDBLOCK && error != EINTR) {
                NQLOG_ERRNO("recv");
                connection.noteEnd(TcpLinkSocket::endReasonOf(error));
                break;
            }
            if (++timeouts >= timing_.receiveTimeouts) {
                NQLOG("no data from %s for %d receive time-outs: ending the link", peer.c_str(), timeouts);
                // Not even a heartbeat's answer came back: the TV or the way to it is gone quietly.
                connection.noteEnd(LinkEndReason::NetworkLost);
                break;
            }
            continue;
        }
        // The TV hung up, or its stream cannot be framed.
        if (count == 0 || splitter.commit(static_cast<size_t>(count)) != FrameStreamSplitter::Status::Ok) {
            connection.noteEnd(LinkEndReason::TvClosed);
            break;
        }
        timeouts = 0;
    }
    connection.halt();
    // Four zero bytes follow the reason, as after every payload the listener gets.
    const uint8_t reason[] = {static_cast<uint8_t>(connection.endReason()), 0, 0, 0, 0};
    raise(kMsgDisconnected, connection.closeReason != 0 ? "1" : nullptr, reason, 0, 1);
}

// Receive thread.
void TcpClient::dispatch(Connection& connection, const ReassembledMessage& message)
{
    // The payload is followed by four zero bytes in the reassembler's buffer, so it reads as text.
    const std::span<const uint8_t> payload = message.payload();
    switch (message.type()) {
    case kMsgConnected:
    case kMsgDisconnected:
        // Only this client raises these; from the wire they would end or announce a link that isn't.
        NQLOG("ignoring message 0x%x from the peer: it is the transport's own event", message.type());
        return;
    case kMsgPeerIdentity:
        raise(kMsgPeerIdentity, reinterpret_cast<const char*>(payload.data()));
        return;
    case kMsgHeartbeat:
        answerHeartbeat(connection, payload);
        return;
    case kMsgClientInfo:
        raiseClientInfo(payload);
        return;
    case kMsgUdpChannelOpen:
        connection.openUdpChannel(payload, histories_);
        return;
    case kMsgUdpResendFragments:
    case kMsgUdpResendRange:
        connection.resendOverUdp(message.type(), payload);
        return;
    case kMsgNetworkEcho:
        answerEcho(connection, payload);
        return;
    case kMsgVideoFrame:
        connection.videoReceive.push(message.type(), message.timeStamp(), payload);
        return;
    case kMsgAudioFrame:
        connection.audioReceive.push(message.type(), message.timeStamp(), payload);
        return;
    case kMsgTvScreenResolution:
    case kMsgCastVideoFormat:
    case kMsgCastStop:
        // The TV starts over: frames made for the old picture are of no use.
        connection.sendLists.clearMedia();
        break;
    default:
        break;
    }
    raise(message.type(), nullptr, payload.data(), 0, static_cast<uint32_t>(payload.size()));
}

void TcpClient::answerHeartbeat(Connection& connection, std::span<const uint8_t> payload)
{
    const HeartbeatPayload beat = HeartbeatPayload::decode(payload);
    if (beat.isAnswerable()) {
        connection.send(kMsgHeartbeat, beat.answer(status_).encode());
        return;
    }
    if (beat.isRequest()) {
        NQLOG("ignoring a heartbeat request with sequence 0: its answer would read as a request");
        return;
    }
    if ((beat.status & HeartbeatPayload::kStatusWantsClientInfo) != 0) {
        // Our answers say the TV asked until its client information comes.
        status_ |= HeartbeatPayload::kStatusWantsClientInfo;
        raise(kMsgClientInfoRequest);
    }
}

void TcpClient::answerEcho(Connection& connection, std::span<const uint8_t> payload)
{
    const auto echo = NetworkEchoPayload::decode(payload);
    if (!echo) {
        NQLOG("ignoring a network echo of %zu bytes: too short", payload.size());
        return;
    }
    if (echo->isRequest()) {
        connection.send(kMsgNetworkEcho, echo->answer().encode());
        return;
    }
    const auto millisecondsSince = [now = TimeStamp::nowMicroseconds()](uint64_t then) {
        return static_cast<int>((static_cast<int64_t>(now) - static_cast<int64_t>(then)) / 1000);
    };
    NQLOG("Network Echo: d1=%d, d2=%d", millisecondsSince(echo->timeA), millisecondsSince(echo->timeB));
}

void TcpClient::raiseClientInfo(std::span<const uint8_t> payload)
{
    status_ &= static_cast<uint8_t>(~HeartbeatPayload::kStatusWantsClientInfo);
    const auto info = ClientInfoRecord::decode(payload);
    if (!info) {
        NQLOG("ignoring the name in a client information of %zu bytes: too short", payload.size());
        return;
    }
    raise(kMsgPeerIdentity, info->deviceName.c_str());
}

// Delivery thread: the listener gets each frame in the list item's own buffer, which nothing
// else touches during the call.
void TcpClient::deliveryLoop(ReceiveList& list)
{
    while (const auto frame = list.take())
        raise(frame->type, nullptr, frame->payload.data(), frame->timeStamp,
              static_cast<uint32_t>(frame->payload.size()));
}

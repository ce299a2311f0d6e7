#include "Socket/TcpClient.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/FrameReassembler.h"
#include "Socket/FrameStreamSplitter.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/MessageFragmenter.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ReceiveList.h"
#include "Socket/SendLists.h"
#include "Socket/TcpLinkSocket.h"
#include "Socket/UdpChannel.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Utils/Log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// The largest TCP message: 255 fragments of 65,536 bytes.
constexpr size_t kMaxTcpMessage = MessageFragmenter::kTcpFragmentSize * TransportFrameHeader::kMaxFragmentCount;

// Set on each transport thread: the client it works for.
thread_local const TcpClient* transportThreadOf = nullptr;

uint64_t nowMicroseconds()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(system_clock::now().time_since_epoch()).count());
}

} // namespace

// Everything of one connection. Its threads hold a reference to it; it is freed (closing the socket)
// only after they were joined.
struct TcpClient::Connection {
    Connection(int socket, const sockaddr_in& peerAddress) : fd(socket), peer(peerAddress) {}
    ~Connection() { ::close(fd); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Tells every thread to end; any thread, more than once. The socket stays open.
    void halt()
    {
        running = false;
        sendLists.close();
        videoReceive.close();
        audioReceive.close();
        {
            std::lock_guard lock(heartbeatMutex);
            heartbeatStopped = true;
        }
        heartbeatWake.notify_all();
    }

    // disconnect: shuts the socket first, so no write or read can hold anything up, then ends the
    // threads and the UDP side channel.
    void close(uint8_t reason)
    {
        closeReason = reason;
        running = false;
        ::shutdown(fd, SHUT_RDWR);
        halt();
        std::shared_ptr<UdpChannel> channel;
        {
            std::lock_guard lock(udpMutex);
            channel = std::move(udpChannel);
        }
        if (channel)
            channel->close();
    }

    void join()
    {
        for (std::thread* thread : {&receiver, &heartbeat, &audioDelivery, &videoDelivery, &sender}) {
            if (thread->joinable())
                thread->join();
        }
    }

    // The UDP side channel when the route mask sends this type over it.
    std::shared_ptr<UdpChannel> udpRouteFor(uint16_t type)
    {
        const uint32_t bit = type == kMsgVideoFrame   ? UdpChannelOpenPayload::kRouteVideo
                             : type == kMsgAudioFrame ? UdpChannelOpenPayload::kRouteAudio
                                                      : UdpChannelOpenPayload::kRouteOther;
        std::lock_guard lock(udpMutex);
        return (routeMask & bit) != 0 ? udpChannel : nullptr;
    }

    const int fd;
    const sockaddr_in peer;
    // The link runs: cleared by disconnect and by the end of the receive loop.
    std::atomic<bool> running{true};
    std::atomic<uint8_t> closeReason{0};

    SendLists sendLists;
    ReceiveList videoReceive{"VideoData", kMaxVideoFrame};
    // Received audio is not played: the list takes no frame.
    ReceiveList audioReceive{"AudioData", 0};

    std::mutex heartbeatMutex;
    std::condition_variable heartbeatWake;
    bool heartbeatStopped = false;

    // Guards the UDP side channel and the route mask.
    std::mutex udpMutex;
    std::shared_ptr<UdpChannel> udpChannel;
    uint32_t routeMask = 0;

    std::thread receiver;
    std::thread heartbeat;
    std::thread audioDelivery;
    std::thread videoDelivery;
    std::thread sender;
};

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
        auto connection = std::make_shared<Connection>(fd, peer);
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
        connection.heartbeat = spawn([this](Connection& c) { heartbeatLoop(c); });
        connection.audioDelivery = spawn([this](Connection& c) { deliveryLoop(c.audioReceive); });
        connection.videoDelivery = spawn([this](Connection& c) { deliveryLoop(c.videoReceive); });
        connection.sender = spawn([this](Connection& c) { sendLoop(c); });
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
    if (length > 0 && data == nullptr) {
        NQLOG("refusing message type 0x%x: %d bytes at a null pointer", type, length);
        return -1;
    }
    return sendOn(*connection, type, {data, length > 0 ? static_cast<size_t>(length) : 0});
}

int TcpClient::sendOn(Connection& connection, uint16_t type, std::span<const uint8_t> payload)
{
    if (!connection.running)
        return -1;
    // The channel is copied, so a disconnect meanwhile frees it only once this send is done.
    if (const auto channel = connection.udpRouteFor(type)) {
        if (const auto sent = channel->send(type, payload))
            return *sent;
    }
    if (payload.size() > kMaxTcpMessage) {
        NQLOG("refusing message type 0x%x of %zu bytes: more than %zu", type, payload.size(), kMaxTcpMessage);
        return -1;
    }
    switch (connection.sendLists.push(type, nowMicroseconds(), payload)) {
    case SendLists::PushResult::Closed:
        return 0;
    case SendLists::PushResult::Full:
        return kDropped;
    case SendLists::PushResult::Queued:
        break;
    }
    return static_cast<int>(payload.size());
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
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                NQLOG_ERRNO("recv");
                break;
            }
            if (++timeouts >= timing_.receiveTimeouts) {
                NQLOG("no data from %s for %d receive time-outs: ending the link", peer.c_str(), timeouts);
                break;
            }
            continue;
        }
        if (count == 0)
            break;
        timeouts = 0;
        if (splitter.commit(static_cast<size_t>(count)) != FrameStreamSplitter::Status::Ok)
            break;
    }
    connection.halt();
    raise(kMsgDisconnected, connection.closeReason != 0 ? "1" : nullptr);
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
        openUdpChannel(connection, payload);
        return;
    case kMsgUdpResendFragments:
    case kMsgUdpResendRange:
        resendOverUdp(connection, message.type(), payload);
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
        sendOn(connection, kMsgHeartbeat, beat.answer(status_).encode());
        return;
    }
    if (beat.isRequest()) {
        NQLOG("ignoring a heartbeat request with sequence 0: its answer would read as a request");
        return;
    }
    if ((beat.status & HeartbeatPayload::kStatusWantsClientInfo) != 0)
        raise(kMsgClientInfoRequest);
}

void TcpClient::answerEcho(Connection& connection, std::span<const uint8_t> payload)
{
    const auto echo = NetworkEchoPayload::decode(payload);
    if (!echo) {
        NQLOG("ignoring a network echo of %zu bytes: too short", payload.size());
        return;
    }
    if (echo->isRequest()) {
        sendOn(connection, kMsgNetworkEcho, echo->answer().encode());
        return;
    }
    const auto millisecondsSince = [now = nowMicroseconds()](uint64_t then) {
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

void TcpClient::openUdpChannel(Connection& connection, std::span<const uint8_t> payload)
{
    const auto request = UdpChannelOpenPayload::decode(payload);
    if (!request) {
        NQLOG("ignoring a UDP channel open of %zu bytes: too short", payload.size());
        return;
    }
    std::lock_guard lock(connection.udpMutex);
    // Replaced whether or not a channel opens: a mask of 0 sends everything over TCP again.
    connection.routeMask = request->routeMask;
    // The first channel stays; none opens once disconnect has closed the link's channel.
    if (connection.udpChannel || !connection.running)
        return;
    if (request->port == 0 || request->port > 65'535) {
        NQLOG("ignoring a UDP channel open: port %u", request->port);
        return;
    }
    sockaddr_in peer = connection.peer;
    peer.sin_port = htons(static_cast<uint16_t>(request->port));
    connection.udpChannel = UdpChannel::open(peer, request->fragmentSize, histories_);
}

void TcpClient::resendOverUdp(Connection& connection, uint16_t type, std::span<const uint8_t> payload)
{
    std::shared_ptr<UdpChannel> channel;
    {
        std::lock_guard lock(connection.udpMutex);
        channel = connection.udpChannel;
    }
    if (!channel) {
        NQLOG("ignoring a UDP resend request: no UDP channel is open");
        return;
    }
    if (type == kMsgUdpResendFragments) {
        if (const auto request = UdpResendFragmentsPayload::decode(payload))
            channel->resendFragments(*request);
        else
            NQLOG("ignoring a fragment resend request of %zu bytes: too short", payload.size());
    } else if (const auto request = UdpResendRangePayload::decode(payload)) {
        channel->resendRange(*request);
    } else {
        NQLOG("ignoring a range resend request of %zu bytes: too short", payload.size());
    }
}

// Heartbeat thread: one request per interval, woken at once when the link ends.
void TcpClient::heartbeatLoop(Connection& connection)
{
    uint32_t sequence = 2;
    std::unique_lock lock(connection.heartbeatMutex);
    while (!connection.heartbeatWake.wait_for(lock, timing_.heartbeatInterval,
                                              [&connection] { return connection.heartbeatStopped; })) {
        lock.unlock();
        sendOn(connection, kMsgHeartbeat, HeartbeatPayload{.sequence = sequence++}.encode());
        lock.lock();
    }
}

// Delivery thread: the listener gets each frame in the list item's own buffer, which nothing
// else touches during the call.
void TcpClient::deliveryLoop(ReceiveList& list)
{
    while (const auto frame = list.take())
        raise(frame->type, nullptr, frame->payload.data(), frame->timeStamp,
              static_cast<uint32_t>(frame->payload.size()));
}

// Send thread: the only writer of the socket.
void TcpClient::sendLoop(Connection& connection)
{
    MessageFragmenter fragmenter;
    uint32_t sequence = 0;
    while (const auto message = connection.sendLists.take()) {
        TcpLinkSocket::WriteResult failure = TcpLinkSocket::WriteResult::Written;
        int error = 0;
        const auto result = fragmenter.sendGathered(sequence++, message->type, message->timeStamp,
                                                    message->payload, [&](const MessageFragmenter::Pieces& fragment) {
                                                        failure = TcpLinkSocket::writeFragment(connection.fd, fragment);
                                                        error = errno;
                                                        return failure == TcpLinkSocket::WriteResult::Written;
                                                    });
        if (result.status != MessageFragmenter::Status::WriteFailed)
            continue;
        // A disconnect shut the socket under the write: nothing to report.
        if (!connection.running)
            return;
        errno = error;
        PLOG_ERRNO("send fail or timeout");
        // A time-out between fragments leaves the stream framed: the TV drops the incomplete
        // message. Half a fragment, or a broken socket, leaves nothing to frame: end the link.
        if (failure == TcpLinkSocket::WriteResult::PartWritten || (error != EAGAIN && error != EWOULDBLOCK)) {
            NQLOG("closing the link after a failed write of message %u type 0x%x", sequence - 1, message->type);
            ::shutdown(connection.fd, SHUT_RDWR);
            return;
        }
    }
}

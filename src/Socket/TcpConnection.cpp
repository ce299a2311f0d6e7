#include "Socket/TcpConnection.h"

#include "Socket/MessageFragmenter.h"
#include "Socket/MessageType.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/TcpLinkSocket.h"
#include "Socket/TimeStamp.h"
#include "Socket/UdpChannel.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Utils/Log.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace {

// The largest TCP message: 255 fragments of 65,536 bytes.
constexpr size_t kMaxTcpMessage = MessageFragmenter::kTcpFragmentSize * TransportFrameHeader::kMaxFragmentCount;

} // namespace

TcpConnection::TcpConnection(int socket, const sockaddr_in& peerAddress, size_t maxVideoFrame)
    : fd(socket), peer(peerAddress), videoReceive("VideoData", maxVideoFrame)
{
}

TcpConnection::~TcpConnection()
{
    ::close(fd);
}

void TcpConnection::halt()
{
    running = false;
    sendLists.close();
    videoReceive.close();
    audioReceive.close();
    {
        std::lock_guard lock(heartbeatMutex_);
        heartbeatStopped_ = true;
    }
    heartbeatWake_.notify_all();
}

void TcpConnection::close(uint8_t reason)
{
    noteEnd(LinkEndReason::Released);
    closeReason = reason;
    running = false;
    ::shutdown(fd, SHUT_RDWR);
    halt();
    std::shared_ptr<UdpChannel> channel;
    {
        std::lock_guard lock(udpMutex_);
        channel = std::move(udpChannel_);
    }
    if (channel)
        channel->close();
}

void TcpConnection::join()
{
    for (std::thread* thread : {&receiver, &heartbeat, &audioDelivery, &videoDelivery, &sender}) {
        if (thread->joinable())
            thread->join();
    }
}

void TcpConnection::noteEnd(LinkEndReason reason)
{
    uint8_t none = kNoEnd;
    endReason_.compare_exchange_strong(none, static_cast<uint8_t>(reason));
}

LinkEndReason TcpConnection::endReason() const
{
    const uint8_t reason = endReason_.load();
    return reason == kNoEnd ? LinkEndReason::Released : static_cast<LinkEndReason>(reason);
}

int TcpConnection::send(uint16_t type, std::span<const uint8_t> payload)
{
    if (!running)
        return -1;
    // The channel is copied, so a disconnect meanwhile frees it only once this send is done.
    if (const auto channel = udpRouteFor(type)) {
        if (const auto sent = channel->send(type, payload))
            return *sent;
    }
    if (payload.size() > kMaxTcpMessage) {
        NQLOG("refusing message type 0x%x of %zu bytes: more than %zu", type, payload.size(), kMaxTcpMessage);
        return -1;
    }
    switch (sendLists.push(type, TimeStamp::nowMicroseconds(), payload)) {
    case SendLists::PushResult::Closed:
        return 0;
    case SendLists::PushResult::Full:
        return kDropped;
    case SendLists::PushResult::Queued:
        break;
    }
    return static_cast<int>(payload.size());
}

std::shared_ptr<UdpChannel> TcpConnection::udpRouteFor(uint16_t type)
{
    const uint32_t bit = type == kMsgVideoFrame   ? UdpChannelOpenPayload::kRouteVideo
                         : type == kMsgAudioFrame ? UdpChannelOpenPayload::kRouteAudio
                                                  : UdpChannelOpenPayload::kRouteOther;
    std::lock_guard lock(udpMutex_);
    return (routeMask_ & bit) != 0 ? udpChannel_ : nullptr;
}

void TcpConnection::openUdpChannel(std::span<const uint8_t> payload, StreamHistories& histories)
{
    const auto request = UdpChannelOpenPayload::decode(payload);
    if (!request) {
        NQLOG("ignoring a UDP channel open of %zu bytes: too short", payload.size());
        return;
    }
    std::lock_guard lock(udpMutex_);
    // Replaced whether or not a channel opens: a mask of 0 sends everything over TCP again.
    routeMask_ = request->routeMask;
    // The first channel stays; none opens once disconnect has closed the link's channel.
    if (udpChannel_ || !running)
        return;
    if (request->port == 0 || request->port > 65'535) {
        NQLOG("ignoring a UDP channel open: port %u", request->port);
        return;
    }
    sockaddr_in udpPeer = peer;
    udpPeer.sin_port = htons(static_cast<uint16_t>(request->port));
    udpChannel_ = UdpChannel::open(udpPeer, request->fragmentSize, histories);
}

void TcpConnection::resendOverUdp(uint16_t type, std::span<const uint8_t> payload)
{
    std::shared_ptr<UdpChannel> channel;
    {
        std::lock_guard lock(udpMutex_);
        channel = udpChannel_;
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

void TcpConnection::heartbeatLoop(std::chrono::milliseconds interval)
{
    uint32_t sequence = 2;
    std::unique_lock lock(heartbeatMutex_);
    while (!heartbeatWake_.wait_for(lock, interval, [this] { return heartbeatStopped_; })) {
        lock.unlock();
        send(kMsgHeartbeat, HeartbeatPayload{.sequence = sequence++}.encode());
        lock.lock();
    }
}

void TcpConnection::sendLoop()
{
    MessageFragmenter fragmenter;
    uint32_t sequence = 0;
    while (const auto message = sendLists.take()) {
        TcpLinkSocket::WriteResult failure = TcpLinkSocket::WriteResult::Written;
        int error = 0;
        const auto result = fragmenter.sendGathered(sequence++, message->type, message->timeStamp, message->payload,
                                                    [&](const MessageFragmenter::Pieces& fragment) {
                                                        failure = TcpLinkSocket::writeFragment(fd, fragment);
                                                        error = errno;
                                                        return failure == TcpLinkSocket::WriteResult::Written;
                                                    });
        if (result.status != MessageFragmenter::Status::WriteFailed)
            continue;
        // A disconnect shut the socket under the write: nothing to report.
        if (!running)
            return;
        errno = error;
        PLOG_ERRNO("send fail or timeout");
        // A time-out between fragments leaves the stream framed: the TV drops the incomplete
        // message. Half a fragment, or a broken socket, leaves nothing to frame: end the link.
        if (failure == TcpLinkSocket::WriteResult::PartWritten || (error != EAGAIN && error != EWOULDBLOCK)) {
            NQLOG("closing the link after a failed write of message %u type 0x%x", sequence - 1, message->type);
            // A fragment left half written by a time-out (EAGAIN) reads as the network gone.
            noteEnd(TcpLinkSocket::endReasonOf(error));
            ::shutdown(fd, SHUT_RDWR);
            return;
        }
    }
}

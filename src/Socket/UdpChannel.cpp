#include "Socket/UdpChannel.h"

#include "Socket/TimeStamp.h"

#include "Utils/Log.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <chrono>

namespace {

constexpr int kSendBufferSize = 262'144;
// An IPv4 datagram carries at most 65,507 bytes: a larger fragment could never leave this host, and
// every message sent through the channel would be lost.
constexpr uint32_t kMaxDatagramFragment = 65'507 - TransportFrameHeader::kSize;

} // namespace

std::shared_ptr<UdpChannel> UdpChannel::open(const sockaddr_in& peer, uint32_t fragmentSize,
                                             StreamHistories& histories)
{
    const auto fragmenter = MessageFragmenter::withFragmentSize(fragmentSize);
    if (!fragmenter) {
        NQLOG("ignoring the UDP channel open: fragment size %u is not within 1 to %u", fragmentSize,
              TransportFrameHeader::kMaxFragmentLength);
        return nullptr;
    }
    if (fragmentSize > kMaxDatagramFragment) {
        NQLOG("ignoring the UDP channel open: fragment size %u does not fit a datagram (at most %u)", fragmentSize,
              kMaxDatagramFragment);
        return nullptr;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        NQLOG_ERRNO("udp socket");
        return nullptr;
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferSize, sizeof kSendBufferSize) != 0)
        NQLOG_ERRNO("udp setsockopt SO_SNDBUF");
    return std::shared_ptr<UdpChannel>(new UdpChannel(fd, peer, *fragmenter, histories));
}

UdpChannel::UdpChannel(int socket, const sockaddr_in& peer, const MessageFragmenter& fragmenter,
                       StreamHistories& histories)
    : fragmentSize_(static_cast<uint32_t>(fragmenter.fragmentSize())),
      peer_(peer),
      histories_(histories),
      streams_{{{histories.video, fragmenter, {}}, {histories.audio, fragmenter, {}}, {histories.other, fragmenter, {}}}},
      writer_([this](std::span<const uint8_t> datagram) { return sendDatagram(datagram); }),
      socket_(socket)
{
}

UdpChannel::~UdpChannel()
{
    close();
}

std::optional<int> UdpChannel::send(uint16_t type, std::span<const uint8_t> payload)
{
    if (!isOpen())
        return 0;
    Stream& stream = streamFor(histories_.forType(type));
    if (stream.fragmenter.fragmentCount(payload.size()) > TransportFrameHeader::kMaxFragmentCount) {
        NQLOG("message type 0x%x of %zu bytes needs more than %u UDP fragments of %u bytes; it goes over TCP",
              type, payload.size(), TransportFrameHeader::kMaxFragmentCount, fragmentSize_);
        return std::nullopt;
    }
    return transmit(stream, *stream.history.keep(type, TimeStamp::nowMicroseconds(), payload));
}

void UdpChannel::resendFragments(const UdpResendFragmentsPayload& request)
{
    assert(resender_.holds() && "resends come from the receive thread only");
    Stream& stream = streamFor(histories_.forStream(request.streamType));
    if (const auto message = stream.history.find(request.messageId))
        transmit(stream, *message, &request.bitmap);
}

void UdpChannel::resendRange(const UdpResendRangePayload& request)
{
    assert(resender_.holds() && "resends come from the receive thread only");
    Stream& stream = streamFor(histories_.forStream(request.streamType));
    for (const auto& message : stream.history.range(request))
        transmit(stream, *message);
}

void UdpChannel::close()
{
    std::lock_guard guard(socketLock_);
    if (socket_ < 0)
        return;
    ::close(socket_);
    socket_ = -1;
}

UdpChannel::Stream& UdpChannel::streamFor(StreamHistory& history)
{
    for (Stream& stream : streams_) {
        if (&stream.history == &history)
            return stream;
    }
    return streams_.back(); // not reached: the histories name only their own three streams
}

int UdpChannel::transmit(Stream& stream, const StreamHistory::Message& message,
                         const std::vector<uint32_t>* selection)
{
    std::optional<std::span<const uint32_t>> picked;
    std::lock_guard guard(stream.fragmenterLock);
    if (selection && stream.fragmenter.fragmentCount(message.payload.size()) > 1)
        picked = std::span<const uint32_t>(*selection);
    const auto result =
        stream.fragmenter.send(message.id, message.type, message.timeStamp, message.payload, writer_, picked);
    return static_cast<int>(result.bytesWritten);
}

bool UdpChannel::sendDatagram(std::span<const uint8_t> datagram)
{
    std::lock_guard guard(socketLock_);
    if (socket_ < 0)
        return false;
    ssize_t sent;
    do {
        sent = ::sendto(socket_, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&peer_), sizeof peer_);
    } while (sent < 0 && errno == EINTR);
    // A datagram goes out whole or not at all.
    if (sent >= 0) {
        lastSendError_ = 0;
        return true;
    }
    const int error = errno;
    if (lastSendError_.exchange(error) == error)
        return false;
    if (error == EAGAIN || error == EWOULDBLOCK)
        NQLOG("udp send buffer full: dropping datagrams (the first of %zu bytes) until it drains", datagram.size());
    else
        NQLOG_ERRNO("udp send of %zu bytes failed", datagram.size());
    return false;
}

bool UdpChannel::isOpen()
{
    std::lock_guard guard(socketLock_);
    return socket_ >= 0;
}

#include "tv-sim/UdpReceiver.h"

#include "Utils/Log.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <vector>

namespace {
// Room for the largest fragment; a longer datagram shows up as truncated.
constexpr size_t kDatagramBuffer = TransportFrameHeader::kSize + TransportFrameHeader::kMaxFragmentLength;
constexpr int kReceiveBuffer = 4 << 20;
} // namespace

UdpReceiver::UdpReceiver(UdpReassembler::MessageHandler onMessage) : onMessage_(std::move(onMessage)) {}

UdpReceiver::~UdpReceiver()
{
    stop();
}

bool UdpReceiver::open(const SimAddress& address, uint32_t fragmentSize)
{
    std::lock_guard lock(openMutex_);
    if (fd_ >= 0)
        return true;
    if (fragmentSize == 0 || fragmentSize > TransportFrameHeader::kMaxFragmentLength) {
        PLOG("tv-sim: fragment size %u is not 1 to %u", fragmentSize, TransportFrameHeader::kMaxFragmentLength);
        return false;
    }
    if (stopping_ || wake_.fd() < 0)
        return false;
    const int fd = address.withPort(0).bindSocket(SOCK_DGRAM);
    if (fd < 0)
        return false;
    // Bursts of fragments of large frames must not overflow the default buffer before the thread reads.
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer) != 0)
        PLOG_ERRNO("tv-sim: SO_RCVBUF");
    fd_ = fd;
    port_ = SimAddress::localPort(fd);
    reassembler_ = std::make_unique<UdpReassembler>(
        fragmentSize, [this](const TransportFrameHeader& header, std::span<const uint8_t> payload) {
            {
                std::lock_guard stateLock(stateMutex_);
                ++stats_.messages;
            }
            onMessage_(header, payload);
        });
    thread_ = std::thread([this] { run(); });
    return true;
}

void UdpReceiver::stop()
{
    std::lock_guard lock(openMutex_);
    stopping_ = true;
    wake_.wake();
    if (thread_.joinable())
        thread_.join();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

void UdpReceiver::setDropFilter(DropFilter filter)
{
    std::lock_guard lock(stateMutex_);
    filter_ = std::move(filter);
}

UdpReceiver::Stats UdpReceiver::stats() const
{
    std::lock_guard lock(stateMutex_);
    return stats_;
}

// On the UDP thread.
void UdpReceiver::run()
{
    std::vector<uint8_t> buffer(kDatagramBuffer);
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_.fd(), POLLIN, 0}};
    while (!stopping_) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            PLOG_ERRNO("tv-sim: poll on the UDP socket");
            return;
        }
        if (fds[1].revents != 0)
            wake_.drain();
        if (fds[0].revents != 0)
            receiveOne(buffer);
    }
}

void UdpReceiver::receiveOne(std::span<uint8_t> buffer)
{
    const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (got < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            PLOG_ERRNO("tv-sim: recv on the UDP socket");
        return;
    }
    const auto datagram = buffer.first(std::min(static_cast<size_t>(got), buffer.size()));
    const auto header = TransportFrameHeader::decode(datagram);
    {
        std::lock_guard lock(stateMutex_);
        ++stats_.datagrams;
        if (static_cast<size_t>(got) > buffer.size()) {
            PLOG("tv-sim: dropping a truncated %zd-byte datagram", got);
            ++stats_.malformed;
            return;
        }
        // The filter runs under the lock so a test can swap it between datagrams safely.
        if (header && filter_ && filter_(*header)) {
            ++stats_.dropped;
            return;
        }
    }
    if (reassembler_->add(datagram) == UdpReassembler::Result::Malformed) {
        std::lock_guard lock(stateMutex_);
        ++stats_.malformed;
    }
}

UdpReceiver::DropFilter UdpReceiver::dropOnce(uint16_t type, uint32_t messageId, uint8_t fragmentIndex)
{
    // The filter is copied into the receiver and runs on its thread only; shared state keeps copies in step.
    auto dropped = std::make_shared<bool>(false);
    return [=](const TransportFrameHeader& header) {
        if (*dropped || header.type != type || header.sequence != messageId || header.fragmentIndex != fragmentIndex)
            return false;
        *dropped = true;
        return true;
    };
}

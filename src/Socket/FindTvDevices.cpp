#include "Socket/FindTvDevices.h"

#include "Socket/DiscoveryReply.h"
#include "Socket/FindTvDevicesDelegate.h"
#include "Utils/InsideCall.h"
#include "Utils/Log.h"
#include "Utils/PUtils.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <span>
#include <thread>

namespace {

std::optional<sockaddr_in> socketAddress(const std::string& text, uint16_t port)
{
    const auto address = PUtils::parseIPv4(text);
    if (!address)
        return std::nullopt;
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    socketAddress.sin_port = htons(port);
    socketAddress.sin_addr = *address;
    return socketAddress;
}

} // namespace

FindTvDevices::FindTvDevices() : FindTvDevices(Options{})
{
}

FindTvDevices::FindTvDevices(Options options)
    : options_(std::move(options)),
      sendToAddr_(socketAddress(options_.target, options_.port))
{
    if (!sendToAddr_)
        PLOG("discovery target is not an IPv4 address: %s", options_.target.c_str());
    getNIC();
}

FindTvDevices::~FindTvDevices()
{
    closeNIC();
}

void FindTvDevices::getNIC()
{
    assertNotFromDelegate();
    for (const auto& address : options_.localAddresses.empty() ? getNICIP() : options_.localAddresses)
        openSocket(address);
}

void FindTvDevices::openSocket(const std::string& localAddress)
{
    const auto local = socketAddress(localAddress, options_.port);
    if (!local) {
        PLOG("not an IPv4 address, no discovery socket: %s", localAddress.c_str());
        return;
    }
    // Close-on-exec and non-blocking from the start, so no child inherits it and no read can block.
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        PLOG_ERRNO("Ceate socket fail");
        return;
    }
    sockets_.push_back(fd);
    // A failed bind is harmless: the socket then sends from a port the kernel chooses.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&*local), sizeof *local) != 0)
        PLOG_ERRNO("bind fail");
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0)
        PLOG_ERRNO("Set sock to broadcast format fail");
}

void FindTvDevices::closeNIC()
{
    assertNotFromDelegate();
    for (int fd : sockets_)
        ::close(fd);
    sockets_.clear();
}

void FindTvDevices::udpFindDevice()
{
    if (sockets_.empty()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
        return;
    }
    for (int fd : sockets_) {
        if (sendRequest(fd))
            collectReplies(fd);
    }
}

bool FindTvDevices::sendRequest(int fd)
{
    if (!sendToAddr_) {
        PLOG("send msg fail: no target address");
        return false;
    }
    if (::sendto(fd, kDiscoveryRequest.data(), kDiscoveryRequest.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&*sendToAddr_), sizeof *sendToAddr_) < 0) {
        PLOG_ERRNO("send msg fail");
        return false;
    }
    return true;
}

void FindTvDevices::collectReplies(int fd)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + kSocketPassLimit;
    for (;;) {
        const auto left = ceil<milliseconds>(deadline - steady_clock::now());
        if (left <= milliseconds::zero()) {
            PLOG("discovery replies did not stop within %lld ms, next socket",
                 static_cast<long long>(kSocketPassLimit.count()));
            refresh();
            return;
        }
        pollfd watched{fd, POLLIN | POLLPRI, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(std::min(kSilence, left).count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            PLOG_ERRNO("select fail");
            return;
        }
        if (ready == 0) {
            refresh();
            return;
        }
        if (watched.revents & (POLLERR | POLLNVAL | POLLPRI)) {
            PLOG("exception on socket");
            return;
        }
        readReply(fd);
    }
}

void FindTvDevices::readReply(int fd)
{
    // One byte short of the zeroed buffer, so the reply stays terminated whatever its length.
    uint8_t buffer[DiscoveryReply::kMaxSize] = {};
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const ssize_t length = ::recvfrom(fd, buffer, sizeof buffer - 1, MSG_TRUNC,
                                      reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (length < 0) {
        PLOG_ERRNO("recvfrom buffer fail");
        return;
    }
    if (length == 0) {
        PLOG("recvfrom buffer fail");
        return;
    }
    const size_t kept = std::min(static_cast<size_t>(length), sizeof buffer - 1);
    if (kept < static_cast<size_t>(length))
        PLOG("discovery reply of %zd bytes cut to %zu", length, kept);
    const auto text = DiscoveryReply::text(std::span<const uint8_t>(buffer, kept));
    if (!text)
        return;
    char sender[INET_ADDRSTRLEN] = {};
    if (from.sin_family != AF_INET || !::inet_ntop(AF_INET, &from.sin_addr, sender, sizeof sender)) {
        PLOG("discovery reply from an unknown sender dropped");
        return;
    }
    if (delegate_) {
        const InsideCall<FindTvDevices> calling(this);
        delegate_->findTvDevicesInfo(std::string(sender) + "&" + *text);
    }
}

void FindTvDevices::refresh()
{
    if (delegate_) {
        const InsideCall<FindTvDevices> calling(this);
        delegate_->refreshTvDevicesList();
    }
}

void FindTvDevices::assertNotFromDelegate() const
{
    // The pass is walking the socket list the delegate would change.
    assert(!InsideCall<FindTvDevices>::of(this) && "getNIC and closeNIC never from a discovery delegate call");
}

std::vector<std::string> FindTvDevices::getNICIP()
{
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        PLOG_ERRNO("getifaddrs");
        return addresses;
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET || !(entry->ifa_flags & IFF_UP))
            continue;
        char text[INET_ADDRSTRLEN] = {};
        if (!::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, text, sizeof text))
            continue;
        const std::string address(text);
        if (address != "127.0.0.1" && address != "0.0.0.0")
            addresses.push_back(address);
    }
    ::freeifaddrs(list);
    return addresses;
}

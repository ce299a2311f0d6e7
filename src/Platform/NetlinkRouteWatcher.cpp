#include "Platform/NetlinkRouteWatcher.h"

#include "Platform/DispatchSource.h"
#include "Platform/GlobalQueue.h"
#include "Utils/Log.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr unsigned kGroups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE |
                             RTMGRP_IPV6_ROUTE;

} // namespace

NetlinkRouteWatcher::NetlinkRouteWatcher(std::unique_ptr<DispatchSource> source) : source_(std::move(source)) {}

NetlinkRouteWatcher::~NetlinkRouteWatcher()
{
    source_->cancel();
}

std::unique_ptr<NetlinkRouteWatcher> NetlinkRouteWatcher::create(std::function<void()> changed)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd == -1) {
        PLOG("no netlink route socket: %s; network changes go unseen", std::strerror(errno));
        return nullptr;
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = kGroups;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        PLOG("cannot join the netlink route groups: %s; network changes go unseen", std::strerror(errno));
        ::close(fd);
        return nullptr;
    }
    auto source = DispatchSource::create(
        fd, DispatchSource::Kind::Read, GlobalQueue::shared(),
        [fd, changed = std::move(changed)] {
            if (drain(fd))
                changed();
        },
        [fd] { ::close(fd); });
    if (!source) {
        ::close(fd);
        return nullptr;
    }
    source->resume();
    return std::unique_ptr<NetlinkRouteWatcher>(new NetlinkRouteWatcher(std::move(source)));
}

bool NetlinkRouteWatcher::drain(int fd)
{
    // The messages only say that something changed; which change does not matter, since every change
    // leads to a new evaluation. So each datagram is read whole and dropped unparsed.
    alignas(nlmsghdr) char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), MSG_DONTWAIT | MSG_TRUNC);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // ENOBUFS: the kernel dropped messages for want of room; something changed all the same.
        if (n < 0 && errno == ENOBUFS) {
            any = true;
            continue;
        }
        return any;
    }
}

#include "tv-sim/SimAddress.h"

#include "Utils/Log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstring>

std::optional<SimAddress> SimAddress::parse(const std::string& host, uint16_t port)
{
    SimAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage_);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage_);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length_ = sizeof(sockaddr_in);
        return address;
    }
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length_ = sizeof(sockaddr_in6);
        return address;
    }
    PLOG("tv-sim: \"%s\" is not a numeric IPv4 or IPv6 address", host.c_str());
    return std::nullopt;
}

SimAddress SimAddress::withPort(uint16_t port) const
{
    SimAddress address = *this;
    if (family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&address.storage_)->sin_port = htons(port);
    else if (family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&address.storage_)->sin6_port = htons(port);
    return address;
}

std::string SimAddress::format(const sockaddr_storage& address)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(ntohs(v4->sin_port));
    }
    if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(ntohs(v6->sin6_port));
    }
    return "?";
}

uint16_t SimAddress::localPort(int fd)
{
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        return 0;
    if (bound.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
    if (bound.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    return 0;
}

int SimAddress::bindSocket(int type) const
{
    const int fd = ::socket(family(), type | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        PLOG_ERRNO("tv-sim: socket");
        return -1;
    }
    const int on = 1;
    // A second bind of a dual-stack port would fail otherwise.
    if (family() == AF_INET6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0)
        PLOG_ERRNO("tv-sim: IPV6_V6ONLY");
    // A restarted peer may listen again on its fixed port at once.
    if (type == SOCK_STREAM && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        PLOG_ERRNO("tv-sim: SO_REUSEADDR");
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&storage_), length_) != 0) {
        PLOG_ERRNO("tv-sim: bind %s", format(storage_).c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

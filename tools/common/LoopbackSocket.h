#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>

// Blocking IPv4 loopback sockets for the tools, tests and benchmarks that play a peer.
namespace LoopbackSocket {

inline sockaddr_in address(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A blocking TCP connection to 127.0.0.1:port; -1 when it fails.
inline int connect(uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const sockaddr_in peer = address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A port that the kernel just handed out and took back, for a peer that must be told its port; 0 when
// none was given.
inline uint16_t freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in bound = address(0);
    socklen_t length = sizeof bound;
    const bool ok = ::bind(fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) == 0;
    ::close(fd);
    return ok ? ntohs(bound.sin_port) : 0;
}

// Writes every byte, through interruptions; false when the peer is gone (never a SIGPIPE).
inline bool sendAll(int fd, const void* data, size_t length)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t n = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace LoopbackSocket

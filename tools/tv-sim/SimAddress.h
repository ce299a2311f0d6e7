#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

// A numeric IPv4 or IPv6 socket address for the peer's listening and UDP sockets.
class SimAddress {
public:
    // nullopt (logged) when host is not a numeric address.
    static std::optional<SimAddress> parse(const std::string& host, uint16_t port);
    // "1.2.3.4:5" or "[::1]:5".
    static std::string format(const sockaddr_storage& address);
    // The port a bound socket got; 0 when unknown.
    static uint16_t localPort(int fd);

    // The same host with another port.
    SimAddress withPort(uint16_t port) const;
    int family() const { return storage_.ss_family; }
    // A close-on-exec socket of the given type (SOCK_STREAM, SOCK_DGRAM) bound to this address;
    // IPv6 sockets are IPv6-only, listeners reuse the address. -1 (logged) on failure.
    int bindSocket(int type) const;

private:
    sockaddr_storage storage_{};
    socklen_t length_ = 0;
};

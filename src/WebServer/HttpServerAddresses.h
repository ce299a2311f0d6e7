#pragma once

#include <optional>
#include <string>
#include <sys/socket.h>

// Socket addresses as text, and the address this host is reached at. Any thread.
class HttpServerAddresses {
public:
    // Numeric host, and ":port" when asked; empty when the address cannot be converted.
    static std::string socketAddressText(const sockaddr* address, socklen_t length, bool includesPort);
    // Numeric address of the interface that carries the default route (loopback when none).
    static std::optional<std::string> primaryNetworkAddress(bool useIPv6);
};

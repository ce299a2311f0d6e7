#pragma once

#include <optional>
#include <string>
#include <vector>
#include <sys/socket.h>

// Socket addresses as text, and the address this host is reached at. Any thread.
class HttpServerAddresses {
public:
    // Numeric host, and ":port" when asked; empty when the address cannot be converted.
    static std::string socketAddressText(const sockaddr* address, socklen_t length, bool includesPort);
    // Numeric address of the interface that carries the default route (loopback when none).
    static std::optional<std::string> primaryNetworkAddress(bool useIPv6);
    // The key under which connections from one host are counted: the IPv4 address, or the /64 prefix of
    // an IPv6 one (a host is handed a whole /64); empty for anything else.
    static std::string capKey(const std::vector<uint8_t>& address);
};

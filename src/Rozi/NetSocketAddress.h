#pragma once

#include <sys/socket.h>
#include <sys/un.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct sockaddr_in;
struct sockaddr_in6;

// Socket addresses as data (the bytes of a sockaddr_in, sockaddr_in6 or sockaddr_un), and the
// conversions the socket's set-up and diagnostics need.
class NetSocketAddress {
public:
    using Data = std::vector<uint8_t>;

    // An interface description: empty for the wildcard addresses, "localhost" or "loopback", an
    // interface name ("lo") or an address as text; a ":port" after it counts when `port` is 0.
    // Fills the IPv4 and IPv6 addresses found (either may stay empty) with the port.
    static void getInterfaceAddress(Data* address4, Data* address6, const std::string& description, uint16_t port);
    // The unix-domain address of a path; false when the path is empty or too long for sockaddr_un.
    static bool unixAddress(const std::filesystem::path& path, sockaddr_un* address, socklen_t* length);

    static std::string hostFromSockaddr4(const sockaddr_in& address);
    static std::string hostFromSockaddr6(const sockaddr_in6& address);
    static uint16_t portFromSockaddr4(const sockaddr_in& address);
    static uint16_t portFromSockaddr6(const sockaddr_in6& address);
    static std::filesystem::path urlFromSockaddrUN(const sockaddr_un& address, socklen_t length);

    // Host text, port and family of an IPv4 or IPv6 address; false for anything else.
    static bool getHost(std::string* host, uint16_t* port, int* family, const Data& address);
    static std::optional<std::string> hostFromAddress(const Data& address);
    static uint16_t portFromAddress(const Data& address);
    static bool isIPv4Address(const Data& address);
    static bool isIPv6Address(const Data& address);

    // The peer's or the socket's own address of fd; empty when the query fails.
    static Data peerAddress(int fd);
    static Data localAddress(int fd);
    static Data fromSockaddr(const sockaddr* address, socklen_t length);
};

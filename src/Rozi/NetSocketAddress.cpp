#include "Rozi/NetSocketAddress.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <cstring>
#include <string_view>

namespace {

int familyOf(const NetSocketAddress::Data& address)
{
    sa_family_t family = 0;
    if (address.size() >= sizeof family)
        std::memcpy(&family, address.data(), sizeof family);
    return family;
}

template <class Sockaddr> Sockaddr as(const NetSocketAddress::Data& address)
{
    Sockaddr result{};
    std::memcpy(&result, address.data(), sizeof result);
    return result;
}

NetSocketAddress::Data ipv4(in_addr_t hostOrder, uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrder);
    return NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

NetSocketAddress::Data ipv6(const in6_addr& host, uint16_t port)
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = host;
    return NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

// The port part of "interface:port", when it is a number in 1..65535.
uint16_t portOfDescription(std::string_view text)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return 0;
    const unsigned long port = std::stoul(std::string(text));
    return port >= 1 && port <= 65535 ? uint16_t(port) : 0;
}

// The first IPv4 and IPv6 addresses of the interface named `name`, or whose address reads `name`.
void findInterface(
    NetSocketAddress::Data* address4, NetSocketAddress::Data* address6, const std::string& name, uint16_t port)
{
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr)
            continue;
        if (entry->ifa_addr->sa_family == AF_INET && address4->empty()) {
            sockaddr_in address;
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (name == entry->ifa_name || name == NetSocketAddress::hostFromSockaddr4(address))
                *address4 = ipv4(ntohl(address.sin_addr.s_addr), port);
        } else if (entry->ifa_addr->sa_family == AF_INET6 && address6->empty()) {
            sockaddr_in6 address;
            std::memcpy(&address, entry->ifa_addr, sizeof address);
            if (name == entry->ifa_name || name == NetSocketAddress::hostFromSockaddr6(address)) {
                address.sin6_port = htons(port);
                *address6 = NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), sizeof address);
            }
        }
    }
    ::freeifaddrs(list);
}

// The address getpeername or getsockname gives for fd; empty when the query fails.
NetSocketAddress::Data nameOf(int fd, int (*query)(int, sockaddr*, socklen_t*))
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (fd < 0 || query(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return {};
    return NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), length);
}

} // namespace

void NetSocketAddress::getInterfaceAddress(
    Data* address4, Data* address6, const std::string& description, uint16_t port)
{
    address4->clear();
    address6->clear();
    // An IPv6 address holds colons of its own: whole, or in brackets before ":port".
    in6_addr literal{};
    std::string bracketed = description;
    std::string bracketPort;
    if (description.starts_with('[')) {
        const size_t close = description.find(']');
        bracketed = description.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        if (close != std::string::npos && description.compare(close + 1, 1, ":") == 0)
            bracketPort = description.substr(close + 2);
    }
    if (::inet_pton(AF_INET6, bracketed.c_str(), &literal) == 1) {
        if (port == 0 && !bracketPort.empty())
            port = portOfDescription(bracketPort);
        *address6 = ipv6(literal, port);
        return;
    }
    const size_t colon = description.find(':');
    const std::string name = description.substr(0, colon);
    if (port == 0 && colon != std::string::npos)
        port = portOfDescription(std::string_view(description).substr(colon + 1));
    if (name.empty()) {
        *address4 = ipv4(INADDR_ANY, port);
        *address6 = ipv6(in6addr_any, port);
    } else if (name == "localhost" || name == "loopback") {
        *address4 = ipv4(INADDR_LOOPBACK, port);
        *address6 = ipv6(in6addr_loopback, port);
    } else {
        findInterface(address4, address6, name, port);
    }
}

bool NetSocketAddress::unixAddress(const std::filesystem::path& path, sockaddr_un* address, socklen_t* length)
{
    const std::string& text = path.native();
    // The path and its terminating zero must fit; a path cut short would name another file.
    if (text.empty() || text.size() >= sizeof address->sun_path)
        return false;
    *address = {};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, text.data(), text.size());
    *length = socklen_t(offsetof(sockaddr_un, sun_path) + text.size() + 1);
    return true;
}

std::string NetSocketAddress::hostFromSockaddr4(const sockaddr_in& address)
{
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text) ? text : "";
}

std::string NetSocketAddress::hostFromSockaddr6(const sockaddr_in6& address)
{
    char text[INET6_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text) ? text : "";
}

uint16_t NetSocketAddress::portFromSockaddr4(const sockaddr_in& address)
{
    return ntohs(address.sin_port);
}

uint16_t NetSocketAddress::portFromSockaddr6(const sockaddr_in6& address)
{
    return ntohs(address.sin6_port);
}

std::filesystem::path NetSocketAddress::urlFromSockaddrUN(const sockaddr_un& address, socklen_t length)
{
    const size_t pathOffset = offsetof(sockaddr_un, sun_path);
    if (length <= pathOffset)
        return {};
    const size_t room = std::min<size_t>(length - pathOffset, sizeof address.sun_path);
    return std::string(address.sun_path, strnlen(address.sun_path, room));
}

bool NetSocketAddress::getHost(std::string* host, uint16_t* port, int* family, const Data& address)
{
    if (isIPv4Address(address)) {
        const auto ip = as<sockaddr_in>(address);
        *host = hostFromSockaddr4(ip);
        *port = portFromSockaddr4(ip);
        *family = AF_INET;
        return true;
    }
    if (isIPv6Address(address)) {
        const auto ip = as<sockaddr_in6>(address);
        *host = hostFromSockaddr6(ip);
        *port = portFromSockaddr6(ip);
        *family = AF_INET6;
        return true;
    }
    return false;
}

std::optional<std::string> NetSocketAddress::hostFromAddress(const Data& address)
{
    std::string host;
    uint16_t port = 0;
    int family = 0;
    return getHost(&host, &port, &family, address) ? std::optional(host) : std::nullopt;
}

uint16_t NetSocketAddress::portFromAddress(const Data& address)
{
    std::string host;
    uint16_t port = 0;
    int family = 0;
    return getHost(&host, &port, &family, address) ? port : 0;
}

bool NetSocketAddress::isIPv4Address(const Data& address)
{
    return address.size() >= sizeof(sockaddr_in) && familyOf(address) == AF_INET;
}

bool NetSocketAddress::isIPv6Address(const Data& address)
{
    return address.size() >= sizeof(sockaddr_in6) && familyOf(address) == AF_INET6;
}

NetSocketAddress::Data NetSocketAddress::peerAddress(int fd)
{
    return nameOf(fd, ::getpeername);
}

NetSocketAddress::Data NetSocketAddress::localAddress(int fd)
{
    return nameOf(fd, ::getsockname);
}

NetSocketAddress::Data NetSocketAddress::fromSockaddr(const sockaddr* address, socklen_t length)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(address);
    return Data(bytes, bytes + length);
}

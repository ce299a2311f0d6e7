#include "Rozi/NetSocketHostLookup.h"

#include <netdb.h>
#include <netinet/in.h>

#include <cstring>

NetSocketHostLookup::NetSocketHostLookup() : resolver_(systemResolve) { }

std::optional<std::vector<NetSocketAddress::Data>> NetSocketHostLookup::lookupHost(
    const std::string& host, uint16_t port, NetSocketError* error) const
{
    std::vector<NetSocketAddress::Data> addresses;
    if (host == "localhost" || host == "loopback") {
        NetSocketAddress::Data address4;
        NetSocketAddress::Data address6;
        NetSocketAddress::getInterfaceAddress(&address4, &address6, host, port);
        return std::vector{address4, address6};
    }
    int code = resolver_(host, port, &addresses);
    if (code == 0 && addresses.empty())
        code = EAI_FAIL;
    if (code != 0) {
        NetSocketError::assign(error, {kErrorDomain, code, ::gai_strerror(code), {}, {}});
        return std::nullopt;
    }
    return addresses;
}

int NetSocketHostLookup::systemResolve(
    const std::string& host, uint16_t port, std::vector<NetSocketAddress::Data>* addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const int code = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (code != 0)
        return code;
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
            addresses->push_back(NetSocketAddress::fromSockaddr(entry->ai_addr, sizeof(sockaddr_in)));
        } else if (entry->ai_family == AF_INET6 && entry->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 address;
            std::memcpy(&address, entry->ai_addr, sizeof address);
            if (address.sin6_port == 0)
                address.sin6_port = htons(port);
            addresses->push_back(
                NetSocketAddress::fromSockaddr(reinterpret_cast<const sockaddr*>(&address), sizeof address));
        }
    }
    ::freeaddrinfo(list);
    return 0;
}

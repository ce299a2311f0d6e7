#include "Rozi/NetSocketDiagnostics.h"

#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

NetSocketAddress::Data NetSocketDiagnostics::addressOf(End end, int family)
{
    return context_.answer<NetSocketAddress::Data>([this, end, family] {
        const int fd = family == AF_INET ? context_.socket4FD
            : family == AF_INET6         ? context_.socket6FD
            : context_.socket4FD >= 0    ? context_.socket4FD
                                         : context_.socket6FD;
        return end == End::Peer ? NetSocketAddress::peerAddress(fd) : NetSocketAddress::localAddress(fd);
    });
}

bool NetSocketDiagnostics::isDisconnected()
{
    return context_.answer<bool>([this] { return !context_.has(NetSocketFlag::Started); });
}

bool NetSocketDiagnostics::isConnected()
{
    return context_.answer<bool>([this] { return context_.has(NetSocketFlag::Connected); });
}

std::optional<std::string> NetSocketDiagnostics::connectedHost()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Peer, AF_UNSPEC));
}

uint16_t NetSocketDiagnostics::connectedPort()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Peer, AF_UNSPEC));
}

std::filesystem::path NetSocketDiagnostics::connectedUrl()
{
    return context_.answer<std::filesystem::path>([this] {
        const NetSocketAddress::Data address = NetSocketAddress::peerAddress(context_.socketUN);
        sockaddr_un unix{};
        std::memcpy(&unix, address.data(), std::min(address.size(), sizeof unix));
        return NetSocketAddress::urlFromSockaddrUN(unix, socklen_t(address.size()));
    });
}

std::optional<std::string> NetSocketDiagnostics::localHost()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Local, AF_UNSPEC));
}

uint16_t NetSocketDiagnostics::localPort()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Local, AF_UNSPEC));
}

NetSocketAddress::Data NetSocketDiagnostics::connectedAddress()
{
    return addressOf(End::Peer, AF_UNSPEC);
}

NetSocketAddress::Data NetSocketDiagnostics::localAddress()
{
    return addressOf(End::Local, AF_UNSPEC);
}

std::optional<std::string> NetSocketDiagnostics::connectedHost4()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Peer, AF_INET));
}

std::optional<std::string> NetSocketDiagnostics::connectedHost6()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Peer, AF_INET6));
}

uint16_t NetSocketDiagnostics::connectedPort4()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Peer, AF_INET));
}

uint16_t NetSocketDiagnostics::connectedPort6()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Peer, AF_INET6));
}

std::optional<std::string> NetSocketDiagnostics::localHost4()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Local, AF_INET));
}

std::optional<std::string> NetSocketDiagnostics::localHost6()
{
    return NetSocketAddress::hostFromAddress(addressOf(End::Local, AF_INET6));
}

uint16_t NetSocketDiagnostics::localPort4()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Local, AF_INET));
}

uint16_t NetSocketDiagnostics::localPort6()
{
    return NetSocketAddress::portFromAddress(addressOf(End::Local, AF_INET6));
}

bool NetSocketDiagnostics::isIPv4()
{
    return context_.answer<bool>([this] { return context_.socket4FD >= 0; });
}

bool NetSocketDiagnostics::isIPv6()
{
    return context_.answer<bool>([this] { return context_.socket6FD >= 0; });
}

bool NetSocketDiagnostics::isSecure()
{
    return context_.answer<bool>([this] { return context_.has(NetSocketFlag::SocketSecure); });
}

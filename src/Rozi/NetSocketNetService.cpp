#include "Rozi/NetSocket.h"

#include "Rozi/NetService.h"

#include <algorithm>

bool NetSocket::connectToNetService(const NetService& service, NetSocketError* error)
{
    std::vector<NetSocketAddress::Data> addresses = service.addresses();
    if (addresses.empty()) {
        NetSocketError::assign(error, NetSocketError::badParam("The service " + service.name()
                                                               + " has no addresses. Resolve it first."));
        return false;
    }
    const bool ipv4First = isIPv4PreferredOverIPv6();
    std::stable_partition(
        addresses.begin(), addresses.end(), [&](const NetSocketAddress::Data& address) { return NetSocketAddress::isIPv4Address(address) == ipv4First; });
    return std::ranges::any_of(addresses, [&](const NetSocketAddress::Data& address) { return connectToAddress(address, error); });
}

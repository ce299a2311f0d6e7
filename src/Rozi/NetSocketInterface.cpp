#include "Rozi/NetSocketInterface.h"

#include "Rozi/NetSocketFlags.h"

bool NetSocketInterface::resolve(const std::string& description, uint16_t port, uint16_t config,
    NetSocketAddress::Data* address4, NetSocketAddress::Data* address6, NetSocketError* error)
{
    NetSocketAddress::getInterfaceAddress(address4, address6, description, port);
    const char* problem = nullptr;
    if (address4->empty() && address6->empty())
        problem = "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
    else if ((config & NetSocketConfig::IPv4Disabled) && address6->empty())
        problem = "IPv4 has been disabled and specified interface doesn't support IPv6.";
    else if ((config & NetSocketConfig::IPv6Disabled) && address4->empty())
        problem = "IPv6 has been disabled and specified interface doesn't support IPv4.";
    if (problem == nullptr)
        return true;
    NetSocketError::assign(error, NetSocketError::badParam(problem));
    return false;
}

#pragma once

#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketError.h"

#include <cstdint>
#include <string>

// The local addresses an interface description names, checked against the families a socket has
// enabled: what a listener listens on, and what a connecting socket binds before it connects.
class NetSocketInterface {
public:
    // Fills the IPv4 and IPv6 addresses of the description with the port (see
    // NetSocketAddress::getInterfaceAddress). False, with a bad-parameter error, when it names no
    // address of an enabled family. `config` holds the socket's NetSocketConfig bits.
    static bool resolve(const std::string& description, uint16_t port, uint16_t config,
        NetSocketAddress::Data* address4, NetSocketAddress::Data* address6, NetSocketError* error);
};

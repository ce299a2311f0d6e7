#pragma once

#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketError.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Name look-up for connecting: the IPv4 and IPv6 socket addresses of a host name at a port. It
// blocks while the resolver works, so it runs on the global queue, never on a socket queue.
class NetSocketHostLookup {
public:
    // Resolver failures are errors of this domain, with the resolver's code and text.
    static constexpr const char* kErrorDomain = "kCFStreamErrorDomainNetDB";
    // Fills the addresses in the resolver's order; answers 0 or the resolver's (EAI_) code.
    using Resolver = std::function<int(const std::string& host, uint16_t port, std::vector<NetSocketAddress::Data>*)>;

    // The system's resolver: getaddrinfo for TCP over either family.
    NetSocketHostLookup();
    explicit NetSocketHostLookup(Resolver resolver) : resolver_(std::move(resolver)) { }

    // "localhost" and "loopback" answer 127.0.0.1 then ::1 without the resolver. An empty answer
    // counts as the resolver's failure EAI_FAIL.
    std::optional<std::vector<NetSocketAddress::Data>> lookupHost(
        const std::string& host, uint16_t port, NetSocketError* error) const;

    static int systemResolve(const std::string& host, uint16_t port, std::vector<NetSocketAddress::Data>* addresses);

private:
    Resolver resolver_;
};

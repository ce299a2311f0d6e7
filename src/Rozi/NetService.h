#pragma once

#include "Rozi/NetSocketAddress.h"
#include "Rozi/NetSocketError.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A DNS-SD service of the local network, as NetSocket connects to one: its name, type and domain, and,
// once resolved through the local Avahi daemon, its host, port and socket addresses (one for each IP
// version the host has).
class NetService {
public:
    // The daemon's failures: errors of this domain, with Avahi's code and text.
    static constexpr const char* kErrorDomain = "AvahiErrorDomain";
    // Once one IP version's address came, the other gets this long to follow: a host without it would
    // otherwise hold the caller for the daemon's whole time-out.
    static constexpr std::chrono::milliseconds kSecondFamilyWait{500};

    NetService(std::string name, std::string type, std::string domain = "local");

    // Asks the Avahi daemon for the service's host, port and addresses, waiting at most `timeout`
    // seconds. It blocks, so it runs on a queue of the caller's that may wait, never a socket queue.
    // False, with the daemon's error (or a time-out), when no address came; the addresses stay empty.
    bool resolve(double timeout, NetSocketError* error);

    const std::string& name() const { return name_; }
    const std::string& type() const { return type_; }
    const std::string& domain() const { return domain_; }
    // Empty, and 0, until resolved.
    const std::string& hostName() const { return hostName_; }
    uint16_t port() const { return port_; }
    const std::vector<NetSocketAddress::Data>& addresses() const { return addresses_; }

private:
    const std::string name_;
    const std::string type_;
    const std::string domain_;
    std::string hostName_;
    uint16_t port_ = 0;
    std::vector<NetSocketAddress::Data> addresses_;
};

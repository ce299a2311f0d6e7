#pragma once

#include "Rozi/NetSocketAddress.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct NetSocketContext;

// What a NetSocket tells of its state and addresses. Each answer waits for the socket queue. Hosts
// and ports come from the IPv4 descriptor when there is one, else the IPv6 one: the peer's name
// (connected) or the socket's own (local); nullopt and 0 when unknown.
class NetSocketDiagnostics {
public:
    explicit NetSocketDiagnostics(NetSocketContext& context) : context_(context) { }

    bool isDisconnected();
    bool isConnected();
    std::optional<std::string> connectedHost();
    uint16_t connectedPort();
    std::filesystem::path connectedUrl();
    std::optional<std::string> localHost();
    uint16_t localPort();
    NetSocketAddress::Data connectedAddress();
    NetSocketAddress::Data localAddress();
    std::optional<std::string> connectedHost4();
    std::optional<std::string> connectedHost6();
    uint16_t connectedPort4();
    uint16_t connectedPort6();
    std::optional<std::string> localHost4();
    std::optional<std::string> localHost6();
    uint16_t localPort4();
    uint16_t localPort6();
    bool isIPv4();
    bool isIPv6();
    bool isSecure();

private:
    enum class End { Peer, Local };
    // The peer's or own address of the family's descriptor; AF_UNSPEC: IPv4, else IPv6.
    NetSocketAddress::Data addressOf(End end, int family);

    NetSocketContext& context_;
};

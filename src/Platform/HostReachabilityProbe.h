#pragma once

#include "Platform/ReachabilityProbe.h"

#include <sys/socket.h>

#include <memory>
#include <optional>
#include <string>

class NetlinkRouteWatcher;

// Reachability of a host name or an address on Linux. An evaluation looks the name up (on the global
// queue, so no caller waits for the resolver) and asks the kernel for a route to each address with a
// UDP connect(), which sends nothing. Reachable means some address has a route; an address of this
// machine adds the local-address and direct bits. Flags are unreadable until the first evaluation
// ends. While a callback is set, every change of links, addresses or routes evaluates again.
class HostReachabilityProbe final : public ReachabilityProbe {
public:
    // Flag bits it produces.
    static constexpr uint32_t kReachable = 0x2;
    static constexpr uint32_t kIsLocalAddress = 0x10000;
    static constexpr uint32_t kIsDirect = 0x20000;

    // nullptr for an empty name.
    static std::unique_ptr<HostReachabilityProbe> forHost(const std::string& name);
    // nullptr for a family other than IPv4 or IPv6 or a length too short for it. The any-address asks
    // for a route to the internet at large.
    static std::unique_ptr<HostReachabilityProbe> forAddress(const sockaddr* address, socklen_t length);
    ~HostReachabilityProbe() override;

    std::optional<uint32_t> flags() override;
    bool setCallback(Changed changed) override;
    void removeCallback() override;

    // One evaluation, on the calling thread: the flags for the name or address. For tests and tools.
    static uint32_t evaluateHost(const std::string& name);
    static uint32_t evaluateAddress(const sockaddr_storage& address);

private:
    struct State;
    explicit HostReachabilityProbe(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
    std::unique_ptr<NetlinkRouteWatcher> watcher_;
};

#pragma once

#include <functional>
#include <memory>

class DispatchSource;

// Tells when the kernel's links, addresses or routes change: a netlink route socket subscribed to
// those groups, read on the global queue. Each batch of messages read gives one `changed` call.
class NetlinkRouteWatcher {
public:
    // nullptr (logged) when the socket cannot be opened or watched. `changed` runs on the global
    // queue, one call at a time, and may still be running while the watcher goes away, so it holds
    // what it needs itself.
    static std::unique_ptr<NetlinkRouteWatcher> create(std::function<void()> changed);
    ~NetlinkRouteWatcher();
    NetlinkRouteWatcher(const NetlinkRouteWatcher&) = delete;
    NetlinkRouteWatcher& operator=(const NetlinkRouteWatcher&) = delete;

    // Reads every message waiting on the socket without blocking; true when any came. Serves the
    // read source, and lets tests check what a socket holds.
    static bool drain(int fd);

private:
    explicit NetlinkRouteWatcher(std::unique_ptr<DispatchSource> source);
    std::unique_ptr<DispatchSource> source_;
};

#pragma once

#include "Platform/DispatchSource.h"

#include <cstdint>
#include <functional>
#include <memory>

class NetSocketDescriptor;
struct NetSocketContext;

// A readiness source of the connected descriptor whose suspension is mirrored in a state bit, so
// suspending and resuming act only when they must. Used on the socket queue.
class NetSocketReadiness {
public:
    NetSocketReadiness(NetSocketContext& context, DispatchSource::Kind kind, uint32_t suspendedBit);

    // Watches fd, suspended; `owner` closes it once every source lets go. The handler runs on the
    // socket queue while the socket is alive. False when the descriptor cannot be watched.
    bool attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner, std::function<void()> onReady);
    bool attached() const { return source_ != nullptr; }
    void suspend();
    void resume();
    void cancel();

private:
    NetSocketContext& context_;
    const DispatchSource::Kind kind_;
    const uint32_t suspendedBit_;
    std::unique_ptr<DispatchSource> source_;
};

#pragma once

#include "Rozi/NetSocketDelegate.h"

#include <functional>
#include <memory>
#include <optional>

class DispatchTimer;
struct NetSocketContext;
class NetSocketCloser;
struct NetSocketPacket;

// The time-out of the current read or of the current write. When it fires the direction pauses and
// the delegate is asked for more time: more moves the deadline and resumes the work, none closes
// the socket with the direction's time-out error. Without a direction (the connect's) it is a
// deadline no delegate moves.
class NetSocketTimeout {
public:
    using Ask = double (NetSocketDelegate::*)(const NetSocketDelegate::Socket&, long, double, size_t);
    struct Direction {
        uint32_t pausedBit;
        Ask ask;
        NetSocketError (*error)();
        // The packet in progress, or null.
        std::function<NetSocketPacket*()> current;
        // Runs the direction's work again after an extension.
        std::function<void()> resume;
    };

    NetSocketTimeout(NetSocketContext& context, NetSocketCloser& closer, Direction direction);
    // Firing runs `expire` on the socket queue.
    NetSocketTimeout(NetSocketContext& context, std::function<void()> expire);
    ~NetSocketTimeout();
    NetSocketTimeout(const NetSocketTimeout&) = delete;
    NetSocketTimeout& operator=(const NetSocketTimeout&) = delete;

    // Arms a one-shot timer for a time-out of 0 or more seconds; a negative one arms nothing.
    void start(double seconds);
    void cancel();

private:
    void fire();
    void extend(double seconds);

    NetSocketContext& context_;
    NetSocketCloser* const closer_;
    const std::optional<Direction> direction_;
    const std::function<void()> expire_;
    std::unique_ptr<DispatchTimer> timer_;
};

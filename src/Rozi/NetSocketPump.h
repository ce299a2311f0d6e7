#pragma once

#include "Rozi/NetSocketPacketQueue.h"
#include "Rozi/NetSocketReadiness.h"
#include "Rozi/NetSocketTimeout.h"

#include <memory>

class NetSocketCloser;
class NetSocketTLS;
struct NetSocketContext;

// What the reading and the writing half of a NetSocket share: requests served one at a time, the
// readiness source of the connected descriptor, the current request's time-out and the wait at a
// TLS start. Everything runs on the socket queue.
template <class Packet> class NetSocketPump {
public:
    // The state bits and the delegate's question that tell one direction from the other.
    struct Direction {
        DispatchSource::Kind kind;
        uint32_t sourceSuspendedBit;
        // Set while this direction's queue stands at a TLS start.
        uint32_t startingTLSBit;
        uint32_t pausedBit;
        NetSocketTimeout::Ask askForMoreTime;
        NetSocketError (*timeoutError)();
    };

    NetSocketPump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls, const Direction& direction);
    virtual ~NetSocketPump();
    NetSocketPump(const NetSocketPump&) = delete;
    NetSocketPump& operator=(const NetSocketPump&) = delete;

    // Queues the request when the socket is started and not refusing requests; otherwise drops it.
    void enqueue(std::shared_ptr<Packet> packet);
    // Makes the next request current when none is and starts it; a TLS marker starts the handshake.
    void maybeDequeue();
    // A request is queued or current.
    bool busy() const { return packets_.busy(); }
    bool hasSource() const { return source_.attached(); }
    void cancelSource() { source_.cancel(); }
    void resumeSource() { source_.resume(); }
    // Tag, bytes done and total of the current request and the fraction done; NaN without one.
    float progress(long* tag, size_t* done, size_t* total) const;
    // Ends the current request without a callback.
    void endCurrent();
    // Ends the current request without a callback and drops the queued ones.
    void clear();

protected:
    // Runs the current request as far as the descriptor allows.
    virtual void doWork() = 0;
    // The queue ran empty with none current.
    virtual void queueEmptied() = 0;
    // The byte count at which `packet` is done, for progress; 0 for an open-ended one.
    virtual size_t totalOf(const Packet& packet) const = 0;
    // While this direction stands at a TLS start: continues the handshake once both directions
    // reached it, else waits with the source suspended. False when no start is pending.
    bool waitAtTLSStart();

    NetSocketContext& context_;
    NetSocketCloser& closer_;
    NetSocketTLS& tls_;
    NetSocketPacketQueue<Packet> packets_;
    NetSocketReadiness source_;

private:
    const uint32_t startingTLSBit_;
    NetSocketTimeout timeout_;
};

#pragma once

#include "Rozi/NetSocketPacketQueue.h"
#include "Rozi/NetSocketReadiness.h"
#include "Rozi/NetSocketTimeout.h"
#include "Rozi/NetSocketWritePacket.h"

#include <memory>

class NetSocketCloser;
class NetSocketTLS;
class NetSocketDescriptor;
struct NetSocketContext;

// The writing half of a NetSocket: queued writes sent one at a time as the connected descriptor
// takes bytes. The write readiness source runs only while a write waits for room. Everything runs
// on the socket queue.
class NetSocketWritePump {
public:
    NetSocketWritePump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls);
    ~NetSocketWritePump();
    NetSocketWritePump(const NetSocketWritePump&) = delete;
    NetSocketWritePump& operator=(const NetSocketWritePump&) = delete;

    // Queues the write when the socket is started and not refusing writes; otherwise drops it.
    void enqueue(std::shared_ptr<NetSocketWritePacket> packet);
    void maybeDequeueWrite();
    // Watches the connected descriptor, which `owner` closes once the last source lets go of it.
    bool attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner);

    // A write is queued or current.
    bool busy() const { return packets_.busy(); }
    bool hasSource() const { return source_.attached(); }
    // Ends the current write without a callback and drops the queued ones.
    void clear();
    void cancelSource() { source_.cancel(); }
    // Tag, bytes done and total of the current write and the fraction done; NaN without one.
    float progress(long* tag, size_t* done, size_t* total) const;
    void endCurrentWrite();
    void resumeSource() { source_.resume(); }

private:
    void doWriteData();
    // Sends what it can of the current write, through TLS on a secure socket.
    size_t send(bool* waiting, std::optional<NetSocketError>* error);
    void completeCurrentWrite();

    NetSocketContext& context_;
    NetSocketCloser& closer_;
    NetSocketTLS& tls_;
    NetSocketPacketQueue<NetSocketWritePacket> packets_;
    NetSocketReadiness source_;
    NetSocketTimeout timeout_;
};

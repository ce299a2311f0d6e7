#pragma once

#include "Rozi/NetSocketPump.h"
#include "Rozi/NetSocketWritePacket.h"

#include <memory>

class NetSocketDescriptor;

// The writing half of a NetSocket: queued writes sent one at a time as the connected descriptor
// takes bytes. The write readiness source runs only while a write waits for room. Everything runs
// on the socket queue.
class NetSocketWritePump : public NetSocketPump<NetSocketWritePacket> {
public:
    NetSocketWritePump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls);
    ~NetSocketWritePump() override;

    // Watches the connected descriptor, which `owner` closes once the last source lets go of it.
    bool attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner);

private:
    void doWork() override { doWriteData(); }
    void queueEmptied() override;
    size_t totalOf(const NetSocketWritePacket& write) const override { return write.buffer->size(); }
    void doWriteData();
    // Sends what it can of the current write, through TLS on a secure socket.
    size_t send(bool* waiting, std::optional<NetSocketError>* error);
    void completeCurrentWrite();
};

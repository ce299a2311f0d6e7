#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class NetSocketTLSSettings;

// What every queued read or write has: the caller's tag, its time-out in seconds (negative: none),
// grown by the delegate's extensions, and how many bytes are done.
struct NetSocketPacket {
    NetSocketPacket(double timeoutSeconds, long packetTag) : timeout(timeoutSeconds), tag(packetTag) { }
    virtual ~NetSocketPacket() = default;

    double timeout;
    long tag;
    size_t bytesDone = 0;
    // Set on the marker that a TLS start puts in both queues: the settings of the start.
    std::shared_ptr<const NetSocketTLSSettings> tlsSettings;
};

#pragma once

#include "Rozi/NetSocketPacket.h"

#include <cstdint>
#include <memory>
#include <vector>

// One queued write: the caller's bytes, shared rather than copied.
struct NetSocketWritePacket final : NetSocketPacket {
    NetSocketWritePacket(std::shared_ptr<const std::vector<uint8_t>> data, double timeoutSeconds, long packetTag)
        : NetSocketPacket(timeoutSeconds, packetTag), buffer(std::move(data))
    {
    }

    size_t remaining() const { return buffer->size() - bytesDone; }
    const uint8_t* nextBytes() const { return buffer->data() + bytesDone; }

    const std::shared_ptr<const std::vector<uint8_t>> buffer;
};

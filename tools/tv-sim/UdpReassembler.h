#pragma once

#include "Socket/TransportFrameHeader.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <span>
#include <vector>

// Puts the datagrams of the UDP side channel together again. Unlike the TCP link, fragments of
// several messages interleave and arrive out of order or again (resends), so each message under way
// is kept apart, keyed by its stream (video, audio, other) and message id, until all its fragments
// are in. Fragment i sits at offset i x F. Used on one thread.
class UdpReassembler {
public:
    // At most this many messages wait for fragments; the oldest is given up beyond.
    static constexpr size_t kMaxPending = 32;

    // header: the message's id (sequence), type, count and time stamp, its fragmentLength the whole
    // payload's length. The payload is valid only during the call.
    using MessageHandler = std::function<void(const TransportFrameHeader& header, std::span<const uint8_t> payload)>;

    // fragmentSize is F, 1 to 262,144.
    UdpReassembler(uint32_t fragmentSize, MessageHandler onMessage);

    enum class Result { Accepted, Completed, Malformed };
    // One datagram: header and fragment. A completed message is handed on before this returns.
    Result add(std::span<const uint8_t> datagram);

    size_t pending() const { return pending_.size(); }

private:
    struct Pending {
        TransportFrameHeader header;
        std::vector<uint8_t> payload;
        std::bitset<256> arrived;
        unsigned received = 0;
        uint64_t lastLength = 0;
    };

    bool fits(const TransportFrameHeader& header, size_t payloadBytes) const;
    Pending& find(const TransportFrameHeader& header);

    uint32_t fragmentSize_;
    MessageHandler onMessage_;
    // Oldest first.
    std::list<Pending> pending_;
};

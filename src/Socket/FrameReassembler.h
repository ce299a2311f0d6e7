#pragma once

#include "Socket/ReassembledMessage.h"
#include "Socket/TransportFrameHeader.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

// Puts the fragments of the TCP link's messages together again. One per receive loop, used only on
// that loop's thread. The message buffer is kept across messages and only grows, so messages that
// fit cost no allocation.
class FrameReassembler {
public:
    // 2 MiB of payload with its header, rounded up to the 4,096-byte allocation step.
    static constexpr size_t kInitialCapacity = 2'101'248;

    // Called synchronously, on the thread that added the last fragment, once per complete message.
    using MessageHandler = std::function<void(const ReassembledMessage&)>;

    explicit FrameReassembler(MessageHandler onMessage);

    // One fragment: its header and the header's fragmentLength payload bytes. Fragment 0 abandons any
    // incomplete message and starts a new one; other fragments join the message under way when their
    // sequence and count match it. Fragments that cannot belong to a well-formed message are dropped.
    void add(const TransportFrameHeader& header, std::span<const uint8_t> payload);

    size_t capacity() const { return capacity_; }

private:
    // Whether a fragment can be used at all, whatever message is under way; logs why not.
    static bool acceptable(const TransportFrameHeader& header, std::span<const uint8_t> payload);
    void start(const TransportFrameHeader& header);
    void join(const TransportFrameHeader& header, std::span<const uint8_t> payload);
    void complete();

    MessageHandler onMessage_;
    // Left uninitialised: every byte handed on was written by a fragment, the header or the terminator.
    std::unique_ptr<uint8_t[]> buffer_;
    size_t capacity_;
    // Sequence, type, count and time stamp of the message under way; no fragment above 0 matches the
    // initial sequence before the first fragment 0.
    TransportFrameHeader current_;
    uint32_t slot_ = 0;
    unsigned received_ = 0;
    uint64_t totalLength_ = 0;
    std::bitset<256> arrived_;
};

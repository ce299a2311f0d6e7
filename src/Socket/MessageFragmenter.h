#pragma once

#include "Socket/TransportFrameHeader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// Cuts one message into fragments of at most fragmentSize() payload bytes, each handed to a writer
// whole, so every fragment is one send call: either as its header and the payload bytes behind it
// (a gathering writer, no copy) or assembled in one reusable buffer.
// Not thread-safe: each sender (the TCP send thread, each UDP stream history) owns one.
class MessageFragmenter {
public:
    static constexpr size_t kTcpFragmentSize = 65'536;

    // Writes one whole fragment (header and payload); false when the write failed.
    using Writer = std::function<bool(std::span<const uint8_t> fragment)>;
    // One fragment in two pieces: its encoded header, and its payload as a view of the message.
    struct Pieces {
        std::span<const uint8_t> header;
        std::span<const uint8_t> payload;
        size_t size() const { return header.size() + payload.size(); }
    };
    // Writes one whole fragment given in pieces; false when the write failed.
    using GatherWriter = std::function<bool(const Pieces& fragment)>;

    enum class Status { Sent, TooManyFragments, WriteFailed };
    struct Result {
        Status status = Status::Sent;
        // Header and payload bytes of the fragments written successfully.
        uint64_t bytesWritten = 0;
    };

    // The TCP link's fragmenter: 65,536 payload bytes per fragment.
    MessageFragmenter();
    // Any fragment size from 1 to TransportFrameHeader::kMaxFragmentLength; nullopt otherwise.
    static std::optional<MessageFragmenter> withFragmentSize(size_t fragmentSize);

    size_t fragmentSize() const { return fragmentSize_; }
    // max(1, ceil(length / fragmentSize())), in 64 bits so no length wraps it.
    uint64_t fragmentCount(uint64_t length) const;

    // Writes the message's fragments in order with the given sequence, type and time stamp. A payload
    // needing more than 255 fragments is refused and nothing is written. A failed write abandons
    // the remaining fragments. With a selection, only fragment i with bit i % 32 of word i / 32 set
    // is written (words past the selection's end select nothing); without one, all are.
    Result send(uint32_t sequence, uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload,
                const Writer& write, std::optional<std::span<const uint32_t>> selection = std::nullopt);
    // The same, with each fragment handed over in pieces, its payload never copied.
    Result sendGathered(uint32_t sequence, uint16_t type, uint64_t timeStamp, std::span<const uint8_t> payload,
                        const GatherWriter& write,
                        std::optional<std::span<const uint32_t>> selection = std::nullopt);

private:
    explicit MessageFragmenter(size_t fragmentSize);

    size_t fragmentSize_;
    // Where send() assembles a fragment; allocated on its first use, so gathering senders never hold one.
    std::vector<uint8_t> buffer_;
};

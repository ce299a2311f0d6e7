#pragma once

#include "Socket/MessageFragmenter.h"
#include "Socket/StreamHistories.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "Utils/ThreadAffinity.h"

#include <netinet/in.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

// The send-only UDP side channel the TV may open on the link. Messages sent through it stay in the
// transport client's stream histories so the TV can ask for lost fragments or messages again.
// Sending never waits: the socket is non-blocking, and a datagram that doesn't fit its buffer is
// dropped with a log line, for the TV to ask for again.
// The transport client holds it through a shared_ptr that senders copy before they send, so it is
// freed only once no sender is inside it. The histories must outlive the channel.
class UdpChannel {
public:
    // Opens the channel towards peer (the TCP peer's address with the TV's UDP port). nullptr, with a
    // log line, when the fragment size is 0 or above 262,144 or the socket cannot be opened.
    static std::shared_ptr<UdpChannel> open(const sockaddr_in& peer, uint32_t fragmentSize,
                                            StreamHistories& histories);
    ~UdpChannel();

    // Keeps the message in its stream's history and sends every fragment. Bytes handed to the
    // system (fewer when the socket's buffer was full), 0 once closed; nullopt when the message needs more than 255 fragments of this
    // channel's size, so the caller sends it over TCP instead. Any thread.
    std::optional<int> send(uint16_t type, std::span<const uint8_t> payload);
    // The TV's requests, on the receive thread (asserted).
    void resendFragments(const UdpResendFragmentsPayload& request);
    void resendRange(const UdpResendRangePayload& request);
    // Closes the socket; later sends return 0. Any thread, more than once.
    void close();

    uint32_t fragmentSize() const { return fragmentSize_; }
    uint16_t port() const { return ntohs(peer_.sin_port); }

private:
    // One stream's history with the fragmenter its datagrams are built in. The fragmenter has its
    // own lock, so the history's lock is never held while datagrams go out.
    struct Stream {
        StreamHistory& history;
        MessageFragmenter fragmenter;
        std::mutex fragmenterLock;
    };

    UdpChannel(int socket, const sockaddr_in& peer, const MessageFragmenter& fragmenter, StreamHistories& histories);
    UdpChannel(const UdpChannel&) = delete;
    UdpChannel& operator=(const UdpChannel&) = delete;

    Stream& streamFor(StreamHistory& history);
    // Sends the kept message's fragments that selection picks (all without one); a one-fragment
    // message always goes out whole. Bytes sent.
    int transmit(Stream& stream, const StreamHistory::Message& message,
                 const std::vector<uint32_t>* selection = nullptr);
    // One datagram to the peer; false once closed, when the socket's buffer is full or when the
    // system refuses it.
    bool sendDatagram(std::span<const uint8_t> datagram);
    bool isOpen();

    const uint32_t fragmentSize_;
    const sockaddr_in peer_;
    StreamHistories& histories_;
    std::array<Stream, 3> streams_;
    const MessageFragmenter::Writer writer_;
    // Guards socket_ (-1 once closed) against close() while a datagram goes out.
    std::mutex socketLock_;
    int socket_;
    // The error of the last failed send, 0 after a success: each run of failures is logged once,
    // so a peer that keeps refusing, or a buffer that stays full, does not flood the log.
    std::atomic<int> lastSendError_{0};
    ThreadAffinity resender_;
};

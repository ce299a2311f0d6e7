#pragma once

#include "Socket/TransportFrameHeader.h"
#include "tv-sim/SimAddress.h"
#include "tv-sim/UdpReassembler.h"
#include "tv-sim/WakeFd.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>

// The TV peer's end of the UDP side channel: one socket, one thread that reads datagrams, lets a
// test's filter drop some and reassembles the rest into messages.
class UdpReceiver {
public:
    // True drops the datagram. Called on the UDP thread.
    using DropFilter = std::function<bool(const TransportFrameHeader& header)>;

    struct Stats {
        uint64_t datagrams = 0; // every datagram read
        uint64_t dropped = 0;   // by the filter
        uint64_t malformed = 0; // too short, truncated or not fitting its message
        uint64_t messages = 0;  // messages completed
    };

    explicit UdpReceiver(UdpReassembler::MessageHandler onMessage);
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Binds a socket on the address (its port is ignored: the kernel picks) and starts the thread.
    // Once open, later calls return true and keep socket and fragment size. False (logged) when the
    // fragment size is not 1 to 262,144 or the socket cannot be bound.
    bool open(const SimAddress& address, uint32_t fragmentSize);
    void stop();
    // 0 until open.
    uint16_t port() const { return port_.load(); }

    void setDropFilter(DropFilter filter);
    // A filter that drops the first datagram carrying fragment `fragmentIndex` of message
    // `messageId` of that type, and nothing else (so the resend gets through).
    static DropFilter dropOnce(uint16_t type, uint32_t messageId, uint8_t fragmentIndex);
    Stats stats() const;

private:
    void run();
    void receiveOne(std::span<uint8_t> buffer);

    UdpReassembler::MessageHandler onMessage_;
    std::mutex openMutex_;
    int fd_ = -1;
    std::atomic<uint16_t> port_{0};
    std::unique_ptr<UdpReassembler> reassembler_;
    WakeFd wake_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    mutable std::mutex stateMutex_;
    DropFilter filter_;
    Stats stats_;
};

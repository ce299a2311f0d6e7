#pragma once

#include "Socket/FrameReassembler.h"
#include "Socket/FrameStreamSplitter.h"
#include "Socket/MessageFragmenter.h"
#include "Socket/TransportFrameHeader.h"
#include "tv-sim/SimAddress.h"
#include "tv-sim/WakeFd.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

// The TCP side of the TV peer: a listener that holds one link at a time (a newly accepted one
// replaces the old) and the one thread that accepts and reads. Messages are put together with the
// transport's own splitter and reassembler. Writes come from any thread and are serialised so the
// fragments of two messages never interleave.
class TvLink {
public:
    struct Handlers {
        // Each complete message; the payload is valid only during the call. On the link thread.
        std::function<void(const TransportFrameHeader& header, std::span<const uint8_t> payload)> onMessage;
        // A link came up ("addr:port"), before any of its messages; on the link thread.
        std::function<void(const std::string& peer)> onUp;
        // The link went down (peer closed, read error, close()); on the link thread.
        std::function<void()> onDown;
    };

    explicit TvLink(Handlers handlers);
    ~TvLink();
    TvLink(const TvLink&) = delete;
    TvLink& operator=(const TvLink&) = delete;

    // Binds, listens and starts the link thread. False (logged) on failure.
    bool listen(const SimAddress& address);
    // Ends the link and the thread, closes the listener. Idempotent.
    void stop();
    uint16_t port() const { return port_; }

    // One message with this link's next sequence number (from 0 per link) and the current time.
    bool send(uint16_t type, std::span<const uint8_t> payload);
    // kMsgHeartbeat {16, n, 0, 0}, n counting from 1 on each link (never 0, the echo word of a request).
    bool sendHeartbeatRequest();
    bool sendRaw(std::span<const uint8_t> bytes);
    // Shuts the link down; the link thread then closes it and reports it down.
    void close();
    // Once setReading(false) returns, the link thread reads nothing more (a hang-up still ends the
    // link) until setReading(true). From the link thread itself it takes effect on the next pass.
    void setReading(bool reading);

private:
    void run();
    // The reading switch as the link thread applies it for its next poll; acknowledges changes.
    bool applyReading();
    void accept();
    // Reads what is there; false when the link has ended.
    bool read();
    static constexpr int kReadsPerPoll = 8;
    void install(int fd, const std::string& peer);
    // Shuts and closes the link on the link thread, once no writer uses it.
    void drop();
    // Shuts the current link down in both directions (unblocking its writers); any thread.
    void shutdownLink();
    // The current link's descriptor for a writer holding the write lock; -1 when none.
    int writerFd();
    // Writes every byte or fails; with the write lock held.
    static bool writeAll(int fd, std::span<const uint8_t> bytes);

    Handlers handlers_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    WakeFd wake_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    // The reading switch and the link thread's acknowledgement of each change.
    std::mutex readingMutex_;
    std::condition_variable readingSeen_;
    bool reading_ = true;
    uint64_t readingRequests_ = 0;
    uint64_t readingAcknowledged_ = 0;
    // Set by the link thread while it runs; no reads happen outside that span.
    std::thread::id linkThread_;
    bool threadRunning_ = false;
    // The current link's reader, made afresh for each link; on the link thread only.
    std::unique_ptr<FrameReassembler> reassembler_;
    std::unique_ptr<FrameStreamSplitter> splitter_;

    // Guards fd_ (which the link thread alone opens and closes).
    std::mutex linkMutex_;
    int fd_ = -1;
    // Held for each whole write; guards the fragmenter and the link's counters.
    std::mutex writeMutex_;
    MessageFragmenter fragmenter_;
    uint32_t sequence_ = 0;
    uint32_t beats_ = 0;
};

#pragma once

#include "Platform/DispatchQueue.h"

#include <atomic>
#include <cstdint>

// The deadlines of a connection's phases, read by the server's stalled-connection sweep on another
// thread: the head must arrive whole by its deadline; while the body is read or the answer written,
// the connection may rest no longer than the idle time-out between two steps and must move at least
// a minimum rate averaged over a window (a client that trickles a byte now and then holds a connection
// slot as surely as one that sends nothing); a lingering close ends by its own deadline.
class HttpServerConnectionDeadlines {
public:
    using Clock = DispatchQueue::Clock;

    struct Limits {
        Clock::duration idle;
        uint64_t minimumRate;  // bytes a second; 0: none
        Clock::duration rateWindow;
    };

    void setHeadDeadline(Clock::time_point deadline) { headDeadline_ = deadline.time_since_epoch().count(); }
    void headArrived() { headDeadline_ = kNotWatched; }
    void noteProgress() { lastProgress_ = Clock::now().time_since_epoch().count(); }
    // Bytes read or written while the rate is watched.
    void noteBytes(size_t count) { windowBytes_ += count; }
    // The body is being read or the answer written: the rate is watched from now on.
    void watchRate();
    // A handler may take its time; the socket is not idle on the peer's account meanwhile.
    void pauseIdleWatch()
    {
        lastProgress_ = kNotWatched;
        windowStart_ = kNotWatched;
    }
    void setCloseDeadline(Clock::time_point deadline) { closeDeadline_ = deadline.time_since_epoch().count(); }
    void stop()
    {
        pauseIdleWatch();
        headDeadline_ = kNotWatched;
        closeDeadline_ = kNotWatched;
    }
    // The reason to end the connection, or nullptr. Any thread; a window whose rate was met is
    // started afresh.
    const char* stalledReason(const Limits& limits, Clock::time_point now);

private:
    static constexpr Clock::rep kNotWatched = Clock::rep{-1};
    std::atomic<Clock::rep> lastProgress_{kNotWatched};
    std::atomic<Clock::rep> headDeadline_{kNotWatched};
    std::atomic<Clock::rep> closeDeadline_{kNotWatched};
    std::atomic<Clock::rep> windowStart_{kNotWatched};
    std::atomic<uint64_t> windowBytes_{0};
};

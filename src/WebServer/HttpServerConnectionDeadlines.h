#pragma once

#include "Platform/DispatchQueue.h"

#include <atomic>

// When a connection last made progress and by when its head must have arrived, read by the server's
// stalled-connection sweep on another thread.
class HttpServerConnectionDeadlines {
public:
    using Clock = DispatchQueue::Clock;

    void setHeadDeadline(Clock::time_point deadline) { headDeadline_ = deadline.time_since_epoch().count(); }
    void headArrived() { headDeadline_ = kNotWatched; }
    void noteProgress() { lastProgress_ = Clock::now().time_since_epoch().count(); }
    // A handler may take its time; the socket is not idle on the peer's account meanwhile.
    void pauseIdleWatch() { lastProgress_ = kNotWatched; }
    void stop()
    {
        lastProgress_ = kNotWatched;
        headDeadline_ = kNotWatched;
    }
    // The reason to end the connection, or nullptr. Any thread.
    const char* stalledReason(Clock::time_point idleLimit, Clock::time_point now) const;

private:
    static constexpr Clock::rep kNotWatched = Clock::rep{-1};
    std::atomic<Clock::rep> lastProgress_{kNotWatched};
    std::atomic<Clock::rep> headDeadline_{kNotWatched};
};

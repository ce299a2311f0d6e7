#pragma once

#include "Platform/DispatchTimer.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

// A listener's answer to running out of descriptors. When accept4 fails with EMFILE or ENFILE the
// connection stays queued, and a level-triggered read source fires again at once: the listener would
// spin on a core until a descriptor frees up. Instead the listener pauses its sources here; they are
// resumed after a short rest, and again after each rest for as long as the shortage lasts. The first
// failure of an episode is logged, and so is the first accept that succeeds after it, once each.
// Every method is safe from any thread.
class AcceptPause {
public:
    static constexpr std::chrono::milliseconds kRest{100};
    // setPaused(true) runs on the failing accept's thread, setPaused(false) on `queue` after the rest;
    // both may run after the owner began to go, so it captures what it reaches weakly. log gets one line.
    AcceptPause(std::string listenerName, std::shared_ptr<DispatchQueue> queue, std::function<void(bool paused)> setPaused,
        std::function<void(const std::string& line)> log, std::chrono::milliseconds rest = kRest);
    ~AcceptPause();
    AcceptPause(const AcceptPause&) = delete;
    AcceptPause& operator=(const AcceptPause&) = delete;

    // Errors that mean "no descriptor or socket memory now" rather than a fault of the connection.
    static bool isDescriptorShortage(int code);
    // After accept4 failed with `code`: true when it was a shortage, and the sources are paused.
    bool acceptFailed(int code);
    // After a connection was accepted: ends an episode.
    void accepted();

private:
    const std::string name_;
    const std::function<void(bool)> setPaused_;
    const std::function<void(const std::string&)> log_;
    const std::chrono::milliseconds rest_;
    DispatchTimer resume_;
    std::atomic<bool> inEpisode_{false};
    std::atomic<uint64_t> pauses_{0};
};

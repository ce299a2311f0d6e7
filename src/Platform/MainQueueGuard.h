#pragma once

#include "Platform/DispatchQueue.h"

#include <functional>
#include <memory>

// Posts work to the main queue on behalf of an owner that lives on the main thread: work still queued
// when the owner (and with it this guard) is gone does nothing. The owner makes sure no thread posts
// while it is being destroyed (it stops those threads first).
class MainQueueGuard {
public:
    MainQueueGuard();
    // Main thread (asserted).
    ~MainQueueGuard();
    MainQueueGuard(const MainQueueGuard&) = delete;
    MainQueueGuard& operator=(const MainQueueGuard&) = delete;

    // Any thread.
    void post(std::function<void()> work) const;
    void postAfter(DispatchQueue::Clock::duration delay, std::function<void()> work) const;
    // For callbacks the owner hands out (an alert's answer): a callable that runs `work` only while the
    // owner lives. Call it on the main thread.
    std::function<void()> guarded(std::function<void()> work) const;

private:
    // Queued work holds it weakly; only the main thread drops it, and only the main thread runs the work.
    std::shared_ptr<const int> alive_;
};

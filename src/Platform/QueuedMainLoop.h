#pragma once

#include "Platform/LoopTaskQueue.h"
#include "Platform/MainLoop.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// A main loop whose tasks wait in a LoopTaskQueue under one mutex and run on the thread that made the
// loop; what differs between loops is their clock and how they are driven.
class QueuedMainLoop : public MainLoop {
public:
    void post(Task task) override;
    void postAfter(Clock::duration delay, Task task) override;
    bool isLoopThread() const override;

protected:
    QueuedMainLoop();
    // The loop's clock, read with mutex_ held.
    virtual Clock::time_point nowLocked() const = 0;

    const std::thread::id thread_;
    mutable std::mutex mutex_;
    // Notified whenever a task is posted.
    std::condition_variable posted_;
    LoopTaskQueue tasks_;
};

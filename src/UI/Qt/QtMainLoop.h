#pragma once

#include "Platform/MainLoop.h"

#include <memory>
#include <thread>

// The application's main loop: the main queue's tasks run in the Qt event loop of the GUI thread.
// Tasks wait in a deadline queue of their own; a queued call wakes the GUI thread for them, and a
// single-shot timer for the earliest deadline. now() is the steady clock.
class QtMainLoop final : public MainLoop {
public:
    // On the GUI thread, with the QCoreApplication made (asserted).
    QtMainLoop();
    // Any thread; tasks still waiting are dropped with it.
    ~QtMainLoop() override;

    // From now on tasks are dropped, so none reaches Qt once the QCoreApplication is gone. Call it
    // before the QCoreApplication is destroyed; tasks waiting are dropped too.
    void close();

    void post(Task task) override;
    void postAfter(Clock::duration delay, Task task) override;
    Clock::time_point now() const override;
    bool isLoopThread() const override;

private:
    struct Core;
    // Shared with the wake-ups queued in Qt, which hold it weakly and find it gone after the loop.
    const std::shared_ptr<Core> core_;
    const std::thread::id thread_;
};

#pragma once

#include "Platform/QueuedMainLoop.h"

// The main loop of a command-line program: the main thread creates it, installs it on the MainQueue
// and calls run(), which serves the main queue until quit().
class RunLoop final : public QueuedMainLoop {
public:
    // The creating thread is the loop's thread.
    RunLoop() = default;

    Clock::time_point now() const override;

    // Runs tasks on the loop's thread until quit(); returns at once if quit() came before.
    void run();
    // Makes run() return after the task it is running. Any thread.
    void quit();

private:
    Clock::time_point nowLocked() const override { return now(); }

    bool quit_ = false;
};

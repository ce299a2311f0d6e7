#pragma once

#include "Platform/LoopTaskQueue.h"
#include "Platform/MainLoop.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// The main loop of a command-line program: the main thread creates it, installs it on the MainQueue
// and calls run(), which serves the main queue until quit().
class RunLoop final : public MainLoop {
public:
    // The creating thread is the loop's thread.
    RunLoop();

    void post(Task task) override;
    void postAfter(Clock::duration delay, Task task) override;
    Clock::time_point now() const override;
    bool isLoopThread() const override;

    // Runs tasks on the loop's thread until quit(); returns at once if quit() came before.
    void run();
    // Makes run() return after the task it is running. Any thread.
    void quit();

private:
    const std::thread::id thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    LoopTaskQueue tasks_;
    bool quit_ = false;
};

#pragma once

#include <chrono>
#include <functional>

// The event loop of the program's main thread, which runs the main queue's tasks: RunLoop for
// command-line programs, TestMainLoop in tests, the GUI toolkit's loop in the application.
class MainLoop {
public:
    using Task = std::function<void()>;
    using Clock = std::chrono::steady_clock;

    virtual ~MainLoop() = default;

    // Both are safe from any thread. Posted tasks run on the loop's thread in the order posted;
    // delayed ones once the delay has passed on now(), in deadline order.
    virtual void post(Task task) = 0;
    virtual void postAfter(Clock::duration delay, Task task) = 0;
    virtual Clock::time_point now() const = 0;
    // True on the thread that runs the loop.
    virtual bool isLoopThread() const = 0;
};

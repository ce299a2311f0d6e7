#pragma once

#include "Platform/DispatchQueue.h"
#include "Platform/MainLoop.h"

#include <memory>
#include <mutex>

// The main queue: its tasks run on the main thread, by whichever MainLoop is installed.
class MainQueue final : public DispatchQueue {
public:
    // The one main queue, alive for the whole process.
    static std::shared_ptr<MainQueue> shared();
    // Makes `loop` run the main queue from now on (nullptr: none). Tasks still pending in a loop that
    // is replaced stay with it. Without a loop, tasks are logged and dropped (asserted in debug builds).
    static void install(std::shared_ptr<MainLoop> loop);

    void async(Task task) override;
    // From another thread this waits for the main thread: never call it from a thread that the main
    // thread may itself wait for (asserted for the transport's and the hand-off threads). Returns
    // without running the task if the loop drops it.
    void sync(const Task& task) override;
    void asyncAfter(Clock::duration delay, Task task) override;
    bool isCurrent() const override;
    Clock::time_point now() const override;

private:
    MainQueue();
    std::shared_ptr<MainLoop> loop() const;
    // The installed loop, or nullptr with the task's loss reported.
    std::shared_ptr<MainLoop> loopOrDrop(const char* what) const;

    mutable std::mutex mutex_;
    std::shared_ptr<MainLoop> loop_;
};

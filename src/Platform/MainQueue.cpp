#include "Platform/MainQueue.h"

#include "Platform/DispatchPool.h"
#include "Utils/Log.h"

#include <future>
#include <utility>

std::shared_ptr<MainQueue> MainQueue::shared()
{
    // Never destroyed: other threads may post to it while static objects are torn down at exit.
    static const auto* const queue = new std::shared_ptr<MainQueue>(new MainQueue);
    return *queue;
}

void MainQueue::install(std::shared_ptr<MainLoop> loop)
{
    MainQueue& queue = *shared();
    std::lock_guard lock(queue.mutex_);
    queue.loop_ = std::move(loop);
}

MainQueue::MainQueue() : DispatchQueue("main") {}

std::shared_ptr<MainLoop> MainQueue::loop() const
{
    std::lock_guard lock(mutex_);
    return loop_;
}

// The queue is immortal, so tasks may hold `this` plainly.
void MainQueue::async(Task task)
{
    const auto loop = this->loop();
    if (!loop) {
        PLOG("main queue has no loop, task dropped");
        return;
    }
    loop->post([this, task = std::move(task)] { runAsCurrent(task); });
}

void MainQueue::sync(const Task& task)
{
    if (isCurrent()) {
        runAsCurrent(task);
        return;
    }
    const auto loop = this->loop();
    if (!loop) {
        PLOG("main queue has no loop, sync task dropped");
        return;
    }
    // The posted closure owns the promise: once the closure is gone (run, or dropped with its loop)
    // the promise is destroyed and the future becomes ready, so this never waits for a lost task.
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    loop->post([this, &task, done = std::move(done)] { runAsCurrent(task); });
    const DispatchPool::BlockingScope blocking;
    finished.wait();
}

void MainQueue::asyncAfter(Clock::duration delay, Task task)
{
    const auto loop = this->loop();
    if (!loop) {
        PLOG("main queue has no loop, delayed task dropped");
        return;
    }
    loop->postAfter(delay, [this, task = std::move(task)] { runAsCurrent(task); });
}

bool MainQueue::isCurrent() const
{
    const auto loop = this->loop();
    return loop && loop->isLoopThread();
}

DispatchQueue::Clock::time_point MainQueue::now() const
{
    const auto loop = this->loop();
    return loop ? loop->now() : Clock::now();
}

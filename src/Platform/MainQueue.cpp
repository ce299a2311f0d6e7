#include "Platform/MainQueue.h"

#include "Platform/DispatchPool.h"
#include "Platform/ThreadRole.h"
#include "Utils/Log.h"

#include <cassert>
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

std::shared_ptr<MainLoop> MainQueue::loopOrDrop(const char* what) const
{
    auto loop = this->loop();
    if (!loop) {
        PLOG("main queue has no loop, %s dropped", what);
        // Work the program meant to run is lost: a set-up fault that debug builds stop at.
        assert(false && "a main queue task was dropped: no main loop is installed");
    }
    return loop;
}

// The queue is immortal, so tasks may hold `this` plainly.
void MainQueue::async(Task task)
{
    const auto loop = loopOrDrop("task");
    if (!loop)
        return;
    loop->post([this, task = std::move(task)] { runAsCurrent(task); });
}

void MainQueue::sync(const Task& task)
{
    if (isCurrent()) {
        runAsCurrent(task);
        return;
    }
    // The main thread joins the transport's threads and waits on the hand-off threads' queues.
    assert(ThreadRole::mayWaitForMain() && "MainQueue::sync never from a transport or hand-off thread");
    const auto loop = loopOrDrop("sync task");
    if (!loop)
        return;
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
    const auto loop = loopOrDrop("delayed task");
    if (!loop)
        return;
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

#include "Platform/MainQueueGuard.h"

#include "Platform/MainQueue.h"

#include <cassert>
#include <utility>

MainQueueGuard::MainQueueGuard() : alive_(std::make_shared<const int>(0)) {}

MainQueueGuard::~MainQueueGuard()
{
    assert(MainQueue::shared()->isCurrent());
}

void MainQueueGuard::post(std::function<void()> work) const
{
    MainQueue::shared()->async(guarded(std::move(work)));
}

void MainQueueGuard::postAfter(DispatchQueue::Clock::duration delay, std::function<void()> work) const
{
    MainQueue::shared()->asyncAfter(delay, guarded(std::move(work)));
}

std::function<void()> MainQueueGuard::guarded(std::function<void()> work) const
{
    // Main queue: only the main thread drops alive_, so the owner can't go while work runs.
    return [weak = std::weak_ptr(alive_), work = std::move(work)] {
        if (weak.lock())
            work();
    };
}

#include "UI/MainQueueGuard.h"

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
    // Main queue.
    MainQueue::shared()->async([weak = std::weak_ptr(alive_), work = std::move(work)] {
        if (weak.lock())
            work();
    });
}

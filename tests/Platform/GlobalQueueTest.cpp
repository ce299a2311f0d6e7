#include "Platform/GlobalQueue.h"
#include "Platform/Waiting.h"

#include <gtest/gtest.h>

#include <future>
#include <latch>
#include <memory>
#include <thread>

TEST(GlobalQueue, RunsTasksInParallel)
{
    // Each task waits for all the others: this finishes only if they run at the same time.
    constexpr int kTasks = 4;
    struct Shared {
        std::latch together{kTasks};
        std::latch finished{kTasks};
    };
    auto shared = std::make_shared<Shared>();
    for (int i = 0; i < kTasks; ++i) {
        GlobalQueue::shared()->async([shared] {
            shared->together.arrive_and_wait();
            shared->finished.count_down();
        });
    }
    auto done = std::async(std::launch::async, [shared] { shared->finished.wait(); });
    EXPECT_TRUE(finishes(done));
}

TEST(GlobalQueue, IsCurrentInItsTasksAndSyncRunsOnTheCaller)
{
    auto queue = GlobalQueue::shared();
    auto high = GlobalQueue::shared(GlobalQueue::Priority::High);
    EXPECT_FALSE(queue->isCurrent());

    std::promise<std::pair<bool, bool>> seen;
    queue->async([&] { seen.set_value({queue->isCurrent(), high->isCurrent()}); });
    EXPECT_EQ(seen.get_future().get(), std::make_pair(true, false));

    std::promise<bool> later;
    high->asyncAfter(std::chrono::milliseconds(1), [&] { later.set_value(high->isCurrent()); });
    auto future = later.get_future();
    ASSERT_TRUE(finishes(future));
    EXPECT_TRUE(future.get());

    std::thread::id ranOn;
    bool current = false;
    queue->sync([&] {
        ranOn = std::this_thread::get_id();
        current = queue->isCurrent();
    });
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(current);
}

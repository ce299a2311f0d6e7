#include "Platform/DispatchPool.h"
#include "Platform/GlobalQueue.h"
#include "Platform/MainLoopFixture.h"
#include "Platform/MainQueue.h"
#include "Platform/RunLoop.h"
#include "Platform/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

using MainQueueTest = MainLoopFixture;

TEST_F(MainQueueTest, TasksRunOnlyWhenTheLoopRunsThem)
{
    auto main = MainQueue::shared();
    std::vector<int> order;
    main->async([&] {
        order.push_back(1);
        main->async([&] { order.push_back(3); });
    });
    main->async([&] { order.push_back(2); });
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(loop->runUntilIdle(), 3u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
}

TEST_F(MainQueueTest, SyncRunsInlineOnTheLoopThreadAndWaitsForTheLoopElsewhere)
{
    auto main = MainQueue::shared();
    bool ranInline = false;
    main->sync([&] { ranInline = main->isCurrent(); });
    EXPECT_TRUE(ranInline);

    std::atomic<bool> returned{false};
    std::atomic<bool> currentElsewhere{true};
    bool ranOnMain = false;
    std::thread worker([&] {
        currentElsewhere = main->isCurrent();
        main->sync([&] { ranOnMain = main->isCurrent(); });
        returned = true;
    });
    EXPECT_TRUE(loop->runUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_FALSE(currentElsewhere);
    EXPECT_TRUE(ranOnMain);
}

TEST_F(MainQueueTest, DelayedTasksFollowTheVirtualClockInDeadlineOrder)
{
    auto main = MainQueue::shared();
    const auto start = loop->now();
    std::vector<std::string> order;
    std::vector<std::chrono::milliseconds> at;
    auto record = [&](std::string name) {
        order.push_back(std::move(name));
        at.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(main->now() - start));
    };
    main->asyncAfter(300ms, [&] { record("A"); });
    main->asyncAfter(100ms, [&] {
        record("B");
        main->async([&] { record("D"); });
        main->asyncAfter(100ms, [&] { record("E"); });
    });
    main->asyncAfter(100ms, [&] { record("C"); });

    loop->advance(99ms);
    EXPECT_TRUE(order.empty());
    loop->advance(251ms);
    EXPECT_EQ(order, (std::vector<std::string>{"B", "C", "D", "E", "A"}));
    EXPECT_EQ(at, (std::vector<std::chrono::milliseconds>{100ms, 100ms, 100ms, 200ms, 300ms}));
    EXPECT_EQ(loop->now() - start, 350ms);
}

TEST_F(MainQueueTest, SyncCallersOnEveryPoolThreadLeaveThePoolAThreadForOtherWork)
{
    // Every pool thread waits in sync() for the main thread, and the main thread waits for a pool
    // task before it serves them: the pool must count them as blocked and start another thread.
    const size_t threads = DispatchPool::shared().threadCount();
    std::latch allIn{static_cast<std::ptrdiff_t>(threads)};
    std::atomic<size_t> finished{0};
    for (size_t i = 0; i < threads; ++i) {
        GlobalQueue::shared()->async([&] {
            allIn.arrive_and_wait();
            MainQueue::shared()->sync([] {});
            ++finished;
        });
    }
    allIn.wait();
    std::promise<void> served;
    GlobalQueue::shared()->async([&] { served.set_value(); });
    EXPECT_TRUE(finishes(served.get_future()));
    EXPECT_TRUE(loop->runUntil([&] { return finished == threads; }));
}

namespace {

// A loop that loses every task, as a loop torn down with work pending does.
class DroppingLoop final : public MainLoop {
public:
    void post(Task) override {}
    void postAfter(Clock::duration, Task) override {}
    Clock::time_point now() const override { return Clock::now(); }
    bool isLoopThread() const override { return false; }
};

} // namespace

TEST(MainQueue, SyncReturnsWhenTheLoopDropsTheTask)
{
    MainQueue::install(std::make_shared<DroppingLoop>());
    bool ran = false;
    MainQueue::shared()->sync([&] { ran = true; });
    EXPECT_FALSE(ran);
    MainQueue::install(nullptr);
}

TEST(RunLoop, ServesTheMainQueueUntilQuit)
{
    auto runLoop = std::make_shared<RunLoop>();
    MainQueue::install(runLoop);
    std::vector<int> order;
    std::thread::id ranOn;
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i)
            MainQueue::shared()->async([&, i] { order.push_back(i); });
        MainQueue::shared()->asyncAfter(1ms, [&] {
            ranOn = std::this_thread::get_id();
            runLoop->quit();
        });
    });
    runLoop->run();
    poster.join();
    MainQueue::install(nullptr);

    EXPECT_EQ(ranOn, std::this_thread::get_id());
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(RunLoop, QuitBeforeRunReturnsAtOnceAndRunCanResume)
{
    RunLoop runLoop;
    EXPECT_TRUE(runLoop.isLoopThread());
    runLoop.quit();
    runLoop.run();

    int ran = 0;
    runLoop.post([&] { ++ran; });
    runLoop.post([&] { runLoop.quit(); });
    runLoop.post([&] { ++ran; }); // stays pending after quit
    runLoop.run();
    EXPECT_EQ(ran, 1);
    runLoop.post([&] { runLoop.quit(); });
    runLoop.run();
    EXPECT_EQ(ran, 2);
}

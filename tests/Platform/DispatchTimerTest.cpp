#include "Platform/DispatchTimer.h"
#include "Platform/GlobalQueue.h"
#include "Platform/MainLoopFixture.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/Waiting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// A queue whose clock and delayed tasks the test moves by hand, to look at how a timer re-arms.
class ManualQueue final : public DispatchQueue {
public:
    ManualQueue() : DispatchQueue("manual") {}

    void async(Task task) override { asyncAfter(Clock::duration::zero(), std::move(task)); }
    void sync(const Task& task) override { task(); }
    void asyncAfter(Clock::duration delay, Task task) override { pending.push_back({delay, std::move(task)}); }
    bool isCurrent() const override { return true; }
    Clock::time_point now() const override { return clock; }

    // Runs the oldest delayed task at the given time, as a late queue would.
    void runFirstAt(Clock::time_point at)
    {
        clock = at;
        Task task = std::move(pending.front().second);
        pending.erase(pending.begin());
        task();
    }

    Clock::time_point clock{};
    std::vector<std::pair<Clock::duration, Task>> pending;
};

// Busy for a moment, to vary where a cancel lands against a firing.
void spin(int steps)
{
    std::atomic<int> sink{0};
    for (int i = 0; i < steps; ++i)
        sink.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

using DispatchTimerTest = MainLoopFixture;

TEST_F(DispatchTimerTest, OneShotFiresOnceAtItsDeadlineUnlessCancelledMovedOrDestroyed)
{
    int fired = 0;
    DispatchTimer timer(MainQueue::shared(), [&] { ++fired; });
    timer.start(1s);
    loop->advance(500ms);
    timer.cancel();
    loop->advance(2s);
    EXPECT_EQ(fired, 0);

    timer.start(1s);
    loop->advance(500ms);
    timer.start(1s); // moves the deadline
    loop->advance(999ms);
    EXPECT_EQ(fired, 0);
    loop->advance(1ms);
    EXPECT_EQ(fired, 1);
    loop->advance(10s);
    EXPECT_EQ(fired, 1);

    {
        DispatchTimer repeating(MainQueue::shared(), [&] { ++fired; });
        repeating.start(100ms, 100ms);
        loop->advance(100ms);
    }
    loop->advance(1s);
    EXPECT_EQ(fired, 2);
}

TEST_F(DispatchTimerTest, RepeatingFiresOnEveryTickOfItsSchedule)
{
    const auto start = loop->now();
    std::vector<milliseconds> ticks;
    DispatchTimer timer(MainQueue::shared(),
                        [&] { ticks.push_back(std::chrono::duration_cast<milliseconds>(loop->now() - start)); });
    timer.start(50ms, 100ms);
    loop->advance(460ms);
    EXPECT_EQ(ticks, (std::vector<milliseconds>{50ms, 150ms, 250ms, 350ms, 450ms}));
}

TEST(DispatchTimer, RepeatingReArmsFromTheScheduleNotFromALateFiring)
{
    auto queue = std::make_shared<ManualQueue>();
    const auto t0 = queue->clock;
    int fired = 0;
    DispatchTimer timer(queue, [&] { ++fired; });
    timer.start(100ms, 100ms);
    ASSERT_EQ(queue->pending.size(), 1u);
    EXPECT_EQ(queue->pending[0].first, 100ms);

    queue->runFirstAt(t0 + 130ms); // 30 ms late: the next tick stays at 200 ms
    EXPECT_EQ(fired, 1);
    ASSERT_EQ(queue->pending.size(), 1u);
    EXPECT_EQ(queue->pending[0].first, 70ms);

    queue->runFirstAt(t0 + 450ms); // the ticks at 200, 300 and 400 ms coalesce into this one firing
    EXPECT_EQ(fired, 2);
    ASSERT_EQ(queue->pending.size(), 1u);
    EXPECT_EQ(queue->pending[0].first, 0ms); // the 400 ms tick is still owed, at once

    queue->runFirstAt(t0 + 450ms);
    EXPECT_EQ(fired, 3);
    ASSERT_EQ(queue->pending.size(), 1u);
    EXPECT_EQ(queue->pending[0].first, 50ms); // and back on the grid at 500 ms
}

TEST_F(DispatchTimerTest, HandlerMayCancelRestartOrDestroyItsOwnTimer)
{
    int repeats = 0;
    DispatchTimer repeating(MainQueue::shared(), [&] {
        if (++repeats == 3)
            repeating.cancel();
    });
    repeating.start(100ms, 100ms);

    int restarts = 0;
    DispatchTimer restarting(MainQueue::shared(), [&] {
        if (++restarts < 4)
            restarting.start(200ms);
    });
    restarting.start(200ms);

    int destroyed = 0;
    std::unique_ptr<DispatchTimer> doomed;
    doomed = std::make_unique<DispatchTimer>(MainQueue::shared(), [&] {
        ++destroyed;
        doomed.reset();
    });
    doomed->start(100ms, 100ms);

    loop->advance(2s);
    EXPECT_EQ(repeats, 3);
    EXPECT_EQ(restarts, 4);
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(doomed, nullptr);
}

TEST(DispatchTimer, CancelFromAnotherThreadWinsAgainstAPoolFiring)
{
    auto queue = SerialQueue::create("timer-race");
    std::atomic<int> late{0};
    std::atomic<int> fired{0};
    for (int round = 0; round < 2000; ++round) {
        auto cancelled = std::make_shared<bool>(false); // on the queue only
        DispatchTimer timer(queue, [&late, &fired, cancelled] {
            ++fired;
            if (*cancelled)
                ++late;
        });
        // One-shot and fast-repeating timers, cancelled at varying moments around their firing.
        timer.start(0ms, round % 2 ? 0ms : 1us);
        spin(round % 100 * 300);
        timer.cancel();
        // Any firing that runs on the queue after this marker began after cancel() returned.
        queue->sync([cancelled] { *cancelled = true; });
    }
    EXPECT_EQ(late, 0);
    EXPECT_GT(fired, 0);
}

TEST(DispatchTimer, HandlerNeverOverlapsItselfOnTheGlobalQueue)
{
    struct Shared {
        std::atomic<int> active{0};
        std::atomic<int> maxActive{0};
        std::atomic<int> calls{0};
        std::promise<void> firstEntered;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::promise<void> secondDone;
    };
    auto shared = std::make_shared<Shared>();
    DispatchTimer timer(GlobalQueue::shared(), [shared] {
        const int active = ++shared->active;
        int seen = shared->maxActive;
        while (active > seen && !shared->maxActive.compare_exchange_weak(seen, active)) {
        }
        const int call = ++shared->calls;
        if (call == 1) {
            shared->firstEntered.set_value();
            shared->released.wait();
        }
        --shared->active;
        if (call == 2)
            shared->secondDone.set_value();
    });
    timer.start(0ms);
    ASSERT_TRUE(finishes(shared->firstEntered.get_future()));
    timer.start(0ms); // a new schedule fires while the first call is still running
    for (int i = 0; i < 200; ++i)
        std::this_thread::yield(); // gives that firing a chance to arrive before the release
    shared->release.set_value();
    ASSERT_TRUE(finishes(shared->secondDone.get_future()));
    EXPECT_EQ(shared->maxActive, 1);
}

TEST(DispatchTimer, CancelledOrRestartedLongTimerLetsGoOfItsQueueAtOnce)
{
    // The wait for an hour-long deadline must not keep the queue (and what its tasks hold) for an hour.
    for (const bool restart : {false, true}) {
        auto queue = SerialQueue::create("long");
        const std::weak_ptr<SerialQueue> weakQueue = queue;
        auto token = std::make_shared<int>(0);
        const std::weak_ptr<int> weakToken = token;
        auto timer = std::make_unique<DispatchTimer>(queue, [token = std::move(token)] {});
        timer->start(1h);
        if (restart)
            timer->start(1h);
        timer->cancel();
        timer.reset();
        queue.reset();
        EXPECT_TRUE(eventually([&] { return weakQueue.expired() && weakToken.expired(); })) << "restart " << restart;
    }
}

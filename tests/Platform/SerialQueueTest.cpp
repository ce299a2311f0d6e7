#include "Platform/DispatchPool.h"
#include "Platform/FixedWidthQueue.h"
#include "Platform/GlobalQueue.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/Waiting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <latch>
#include <thread>
#include <vector>

namespace {

// Waits until every task submitted to the queue so far has run.
void flush(const std::shared_ptr<SerialQueue>& queue)
{
    std::promise<void> done;
    queue->async([&done] { done.set_value(); });
    done.get_future().wait();
}

} // namespace

TEST(SerialQueue, RunsTasksOneAtATimeInSubmissionOrderWithManyProducers)
{
    auto queue = SerialQueue::create("order");
    constexpr int kProducers = 8;
    constexpr int kTasks = 1000;
    std::vector<std::vector<int>> seen(kProducers); // touched on the queue only
    std::atomic<int> active{0};
    std::atomic<bool> overlapped{false};

    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (int i = 0; i < kTasks; ++i) {
                auto task = [&, p, i] {
                    if (active.fetch_add(1) != 0)
                        overlapped = true;
                    seen[p].push_back(i);
                    active.fetch_sub(1);
                };
                // Half the producers wait for each task, which interleaves hand-overs with the pool's draining.
                if (p % 2)
                    queue->sync(task);
                else
                    queue->async(task);
            }
        });
    }
    for (auto& producer : producers)
        producer.join();
    flush(queue);

    EXPECT_FALSE(overlapped);
    for (int p = 0; p < kProducers; ++p) {
        ASSERT_EQ(seen[p].size(), size_t{kTasks});
        for (int i = 0; i < kTasks; ++i)
            ASSERT_EQ(seen[p][i], i) << "producer " << p;
    }
}

TEST(SerialQueue, IsCurrentOnlyInItsOwnTasksWhereSyncRunsInline)
{
    auto queue = SerialQueue::create("mine");
    auto other = SerialQueue::create("other");
    EXPECT_FALSE(queue->isCurrent());

    std::promise<std::vector<bool>> inside;
    queue->asyncAfter(std::chrono::milliseconds(1), [&] {
        bool nested = false;
        queue->sync([&] { nested = queue->isCurrent(); }); // from its own task: inline, no deadlock
        inside.set_value({queue->isCurrent(), nested, other->isCurrent(), GlobalQueue::shared()->isCurrent(),
                          MainQueue::shared()->isCurrent()});
    });
    auto future = inside.get_future();
    ASSERT_TRUE(finishes(future));
    EXPECT_EQ(future.get(), (std::vector<bool>{true, true, false, false, false}));

    bool duringSync = false;
    queue->sync([&] { duringSync = queue->isCurrent(); });
    EXPECT_TRUE(duringSync);
    EXPECT_FALSE(queue->isCurrent());
}

TEST(SerialQueue, SyncWaitsForEarlierTasksAndPrecedesLaterOnes)
{
    auto queue = SerialQueue::create("sync-order");
    std::vector<int> order; // touched on the queue only
    std::promise<void> gate;
    std::shared_future<void> opened = gate.get_future().share();
    queue->async([&, opened] {
        opened.wait();
        order.push_back(1);
    });
    queue->async([&] { order.push_back(2); });
    // The gate may open before or after the sync below joins the queue: both roads must keep the order.
    std::thread opener([&] { gate.set_value(); });
    queue->sync([&] { order.push_back(3); });
    queue->async([&] { order.push_back(4); });
    opener.join();
    flush(queue);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST(SerialQueue, SyncFromAnotherQueueKeepsThatQueueHeld)
{
    auto outer = SerialQueue::create("outer");
    auto inner = SerialQueue::create("inner");
    std::promise<std::vector<bool>> seen;
    outer->async([&] {
        inner->sync([&] {
            bool reentered = false;
            // Re-entering the outer queue from here must not wait for itself.
            outer->sync([&] { reentered = true; });
            const std::vector<bool> result{inner->isCurrent(), outer->isCurrent(), reentered};
            outer->async([&seen, result] { seen.set_value(result); });
        });
    });
    auto future = seen.get_future();
    ASSERT_TRUE(finishes(future));
    EXPECT_EQ(future.get(), (std::vector<bool>{true, true, true}));
}

TEST(SerialQueue, SyncCallersOnEveryPoolThreadDoNotStarveIt)
{
    // Every pool thread blocks in sync() on one queue at the same moment; the queue must still get
    // through them all, which it can only do by running each task on its caller's thread.
    struct Shared {
        std::shared_ptr<SerialQueue> queue = SerialQueue::create("contended");
        size_t threads = DispatchPool::shared().threadCount();
        std::latch allIn{static_cast<std::ptrdiff_t>(threads)};
        size_t ran = 0; // touched on the queue only
        std::atomic<size_t> finished{0};
        std::promise<void> done;
    };
    auto shared = std::make_shared<Shared>();
    for (size_t i = 0; i < shared->threads; ++i) {
        GlobalQueue::shared()->async([shared] {
            shared->allIn.arrive_and_wait();
            shared->queue->sync([&] { ++shared->ran; });
            if (++shared->finished == shared->threads)
                shared->done.set_value();
        });
    }
    ASSERT_TRUE(finishes(shared->done.get_future()));
    shared->queue->sync([] {});
    EXPECT_EQ(shared->ran, shared->threads);
}

TEST(SerialQueue, SyncCallersOnEveryPoolThreadBehindAnAsyncTaskDoNotStarveIt)
{
    // The queue is held while a task waits in it; every pool thread then blocks in sync() behind that
    // task. Draining it needs one more thread, which the pool must start.
    struct Shared {
        std::shared_ptr<SerialQueue> queue = SerialQueue::create("held");
        size_t threads = DispatchPool::shared().threadCount();
        std::latch allIn{static_cast<std::ptrdiff_t>(threads + 1)};
        std::atomic<size_t> finished{0};
        std::promise<void> done;
    };
    auto shared = std::make_shared<Shared>();
    shared->queue->sync([&] {
        shared->queue->async([] {});
        for (size_t i = 0; i < shared->threads; ++i) {
            GlobalQueue::shared()->async([shared] {
                shared->allIn.arrive_and_wait();
                shared->queue->sync([] {});
                if (++shared->finished == shared->threads)
                    shared->done.set_value();
            });
        }
        shared->allIn.arrive_and_wait();
        // Gives them time to block; if some have not yet, the test proves less but cannot fail.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    });
    ASSERT_TRUE(finishes(shared->done.get_future()));
}

TEST(SerialQueue, RunIfIdleRunsAtOnceOnTheCallerOnlyWhenNothingHoldsTheQueue)
{
    auto queue = SerialQueue::create("idle");
    std::thread::id ranOn;
    bool wasCurrent = false;
    EXPECT_TRUE(queue->runIfIdle([&] {
        ranOn = std::this_thread::get_id();
        wasCurrent = queue->isCurrent();
    }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_TRUE(wasCurrent);

    // A task posted from inside goes on in the pool once the caller lets go.
    std::promise<void> posted;
    EXPECT_TRUE(queue->runIfIdle([&] {
        queue->async([&posted] { posted.set_value(); });
        EXPECT_FALSE(queue->runIfIdle([] { ADD_FAILURE() << "ran inside its own queue"; }));
    }));
    EXPECT_EQ(posted.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);

    std::promise<void> release;
    std::latch holding(1);
    queue->async([&] {
        holding.count_down();
        release.get_future().wait();
    });
    holding.wait();
    bool ran = false;
    EXPECT_FALSE(queue->runIfIdle([&ran] { ran = true; })) << "did not wait, yet ran beside the holder";
    EXPECT_FALSE(ran);
    release.set_value();
    flush(queue);
}

// A task's captures may hold the last reference to an object that uses the queue as it goes (a socket
// that closes on its own queue): they are destroyed while the task still counts as running there, so
// that use runs inline instead of waiting for the queue this very task holds.
TEST(SerialQueue, ATasksCapturesGoWhileItStillRunsOnTheQueue)
{
    struct UsesQueueWhenGone {
        UsesQueueWhenGone(std::shared_ptr<SerialQueue> q, std::promise<bool>* g) : queue(std::move(q)), gone(g) {}
        std::shared_ptr<SerialQueue> queue;
        std::promise<bool>* gone;
        ~UsesQueueWhenGone()
        {
            const bool current = queue->isCurrent();
            queue->sync([] {});
            gone->set_value(current);
        }
    };
    auto queue = SerialQueue::create("captures");
    std::promise<bool> gone;
    auto last = std::make_shared<UsesQueueWhenGone>(queue, &gone);
    queue->async([last = std::move(last)] {});
    auto result = gone.get_future();
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the queue waited for itself";
    EXPECT_TRUE(result.get());
}

TEST(FixedWidthQueue, RunsAtMostItsWidthAtOnceOnThreadsOfItsOwnAndTheRestBeforeItGoes)
{
    auto queue = FixedWidthQueue::create("wide", 2);
    EXPECT_EQ(queue->width(), 2u);
    std::atomic<int> active{0};
    std::atomic<int> most{0};
    std::atomic<int> ran{0};
    std::atomic<bool> onPool{false};
    std::atomic<bool> current{true};
    // The tasks see the queue through a copy of its address: the pointer variable is let go below
    // while they still run.
    FixedWidthQueue* const wide = queue.get();
    for (int i = 0; i < 40; ++i) {
        queue->async([&, wide] {
            const int now = active.fetch_add(1) + 1;
            for (int seen = most.load(); now > seen && !most.compare_exchange_weak(seen, now);) {
            }
            onPool = onPool || DispatchPool::isWorkerThread();
            current = current && wide->isCurrent();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            active.fetch_sub(1);
            ++ran;
        });
    }
    // From outside, sync waits its turn; inside, it runs inline.
    bool inline_ = false;
    queue->sync([&] { queue->sync([&] { inline_ = queue->isCurrent(); }); });
    EXPECT_TRUE(inline_);
    EXPECT_FALSE(queue->isCurrent());
    for (int i = 0; i < 20; ++i)
        queue->async([&] { ++ran; });
    queue.reset();
    EXPECT_EQ(ran.load(), 60) << "queued tasks run before the queue goes";
    EXPECT_LE(most.load(), 2);
    EXPECT_FALSE(onPool) << "the shared pool's workers are left to short tasks";
    EXPECT_TRUE(current);
}

#ifndef NDEBUG
TEST(DispatchPool, ADebugBuildTellsOfATaskThatHoldsAWorkerLong)
{
    auto queue = SerialQueue::create("slow");
    testing::internal::CaptureStdout();
    queue->async([] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
    // The line is written as the task ends, before the queue is handed to this caller.
    queue->sync([] {});
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_NE(output.find("a task of slow held a pool worker for"), std::string::npos) << output;
}
#endif

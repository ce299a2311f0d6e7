#include "Platform/DispatchPool.h"
#include "Platform/DispatchReactor.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/TestMainLoop.h"
#include "Platform/ThreadRole.h"
#include "Utils/ContractDeathTest.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <thread>

// The dispatch layer's threading contracts, asserted in debug builds.
namespace {

// Runs work on the pool's io hand-off thread and waits there for death.
void onHandOffThread(std::function<void()> work)
{
    asio::post(DispatchPool::shared().context(), std::move(work));
    awaitDeath();
}

TEST(DispatchContractsDeathTest, AHandOffThreadNeverWaits)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(onHandOffThread([] { SerialQueue::create("contract")->sync([] {}); }),
                 "hand-off thread never waits for a queue");
    EXPECT_DEATH(onHandOffThread([] { const DispatchPool::BlockingScope blocking; }),
                 "hand-off thread never waits for a task");
    EXPECT_DEATH(
        {
            MainQueue::install(std::make_shared<TestMainLoop>());
            onHandOffThread([] { MainQueue::shared()->sync([] {}); });
        },
        "never from a transport or hand-off thread");
}

TEST(DispatchContractsDeathTest, ATransportThreadNeverWaitsForTheMainThread)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            MainQueue::install(std::make_shared<TestMainLoop>());
            std::thread([] {
                ThreadRole::set(ThreadRole::Role::Transport);
                MainQueue::shared()->sync([] {});
            }).join();
        },
        "never from a transport or hand-off thread");
}

TEST(DispatchContractsDeathTest, AMainQueueTaskWithNoLoopIsAFault)
{
    SKIP_WITHOUT_ASSERTIONS();
    MainQueue::install(nullptr);
    EXPECT_DEATH(MainQueue::shared()->async([] {}), "no main loop is installed");
    EXPECT_DEATH(MainQueue::shared()->asyncAfter(std::chrono::seconds(1), [] {}), "no main loop is installed");
}

struct IgnoredClient final : DispatchReactor::Client {
    void becameReady() override {}
};

TEST(DispatchContractsDeathTest, AnArmedWatcherIsNotDetached)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            int ends[2];
            ASSERT_EQ(::pipe(ends), 0);
            DispatchReactor& reactor = DispatchReactor::shared();
            const uint64_t key = reactor.attach(ends[0], EPOLLIN, std::make_shared<IgnoredClient>());
            reactor.arm(ends[0], key);
            reactor.detach(ends[0], key);
        },
        "detached only when not armed");
}

TEST(DispatchContractsDeathTest, OnlyTheCreatingThreadDrivesATestLoop)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            TestMainLoop loop;
            std::thread([&loop] { loop.runUntilIdle(); }).join();
        },
        "driven only by the thread that made it");
}

} // namespace

#include "QtTestSupport.h"

#include <QTimer>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class QtMainLoopTest : public QtLoopFixture {
protected:
    void record(const std::string& what)
    {
        std::lock_guard lock(mutex);
        ran.push_back(what);
        onLoopThread = onLoopThread && loop->isLoopThread();
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return ran.size();
    }

    std::mutex mutex;
    std::vector<std::string> ran;
    bool onLoopThread = true;
};

TEST_F(QtMainLoopTest, TasksFromAnyThreadRunOnTheGuiThreadInTheOrderPosted)
{
    std::thread other([this] {
        EXPECT_FALSE(MainQueue::shared()->isCurrent());
        for (int i = 0; i < 200; ++i)
            MainQueue::shared()->async([this, i] { record(std::to_string(i)); });
    });
    other.join();
    // More than one batch: the rest follow after Qt's own events.
    ASSERT_TRUE(processUntil([this] { return count() == 200; }));
    EXPECT_TRUE(onLoopThread);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(ran[static_cast<size_t>(i)], std::to_string(i));
}

TEST_F(QtMainLoopTest, DelayedTasksWaitTheirDelayAndRunInDeadlineOrder)
{
    const auto start = loop->now();
    std::vector<std::chrono::steady_clock::duration> waited;
    for (const auto& [name, delay] : std::vector<std::pair<std::string, std::chrono::milliseconds>>{
             {"late", 120ms}, {"early", 30ms}, {"middle", 60ms}}) {
        MainQueue::shared()->asyncAfter(delay, [this, name, delay, start, &waited] {
            waited.push_back(loop->now() - start - delay);
            record(name);
        });
    }
    MainQueue::shared()->async([this] { record("now"); });
    ASSERT_TRUE(processUntil([this] { return count() == 4; }));
    EXPECT_EQ(ran, (std::vector<std::string>{"now", "early", "middle", "late"}));
    for (const auto early : waited)
        EXPECT_GE(early, 0ms) << "a delayed task never runs before its deadline";
}

TEST_F(QtMainLoopTest, ATaskThatKeepsPostingLetsQtServeItsOwnEvents)
{
    std::atomic<bool> stop = false;
    std::function<void()> again = [&] {
        if (!stop)
            MainQueue::shared()->async(again);
    };
    MainQueue::shared()->async(again);
    bool timerFired = false;
    QTimer::singleShot(20ms, [&] { timerFired = true; });
    EXPECT_TRUE(processUntil([&] { return timerFired; }, 5s));
    stop = true;
    processFor(20ms);
}

TEST_F(QtMainLoopTest, AClosedLoopDropsWhatWaitsAndWhatComes)
{
    MainQueue::shared()->async([this] { record("before close"); });
    MainQueue::shared()->asyncAfter(10ms, [this] { record("delayed"); });
    loop->close();
    loop->post([this] { record("after close"); });
    processFor(50ms);
    EXPECT_TRUE(ran.empty());
}

} // namespace

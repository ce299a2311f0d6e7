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

TEST_F(QtMainLoopTest, ATaskWhoseCaptureGoesWithAPostNeverBlocksTheLoop)
{
    // The capture posts from another thread as it is destroyed and waits a while for that post to go
    // through; the post needs the loop's lock, which must not be held while a task's captures go.
    struct PostsWhenDestroyed {
        std::shared_ptr<std::atomic<bool>> posted = std::make_shared<std::atomic<bool>>(false);
        std::shared_ptr<std::atomic<bool>> through = std::make_shared<std::atomic<bool>>(false);
        // Set once the task is posted, so only the task's own copy fires.
        std::shared_ptr<std::atomic<bool>> armed = std::make_shared<std::atomic<bool>>(false);
        ~PostsWhenDestroyed()
        {
            if (!armed || !armed->exchange(false))
                return;
            std::thread([posted = posted] {
                MainQueue::shared()->async([] {});
                *posted = true;
            }).detach();
            const auto until = std::chrono::steady_clock::now() + 2s;
            while (!*posted && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(1ms);
            *through = posted->load();
        }
    };
    PostsWhenDestroyed capture;
    const auto through = capture.through;
    const auto armed = capture.armed;
    bool done = false;
    MainQueue::shared()->async([capture, &done] { done = true; });
    *armed = true;
    ASSERT_TRUE(processUntil([&] { return done; }));
    processFor(50ms);
    EXPECT_TRUE(*through) << "a post from the capture's destructor waited for the loop's lock";
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

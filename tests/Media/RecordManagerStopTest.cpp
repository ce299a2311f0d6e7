// Stops that come from the capture's own queue (the delegate, the callback) or race a frame in flight.
#include "Media/RecordManagerCaptureFixture.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

class RecordManagerStopTest : public RecordManagerCaptureFixture {};

// The controller's natural reaction to a lost window: it stops the cast from inside the report.
TEST_F(RecordManagerStopTest, TheDelegateMayStopTheCastFromTheCaptureQueue)
{
    const auto window = showPatternWindow();
    auto manager = makeManager();
    observer.onStop = [&] { manager->StopRecord(); };
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWindow, window, 0);
    ASSERT_TRUE(observer.waitForUnits(3));
    XDestroyWindow(client, static_cast<Window>(window->windowId()));
    XSync(client, False);
    ASSERT_TRUE(observer.waitForStop());
    EXPECT_FALSE(manager->IsStarted());
    manager->deallocRecord();
    manager.reset();
    EXPECT_EQ(observer.stops(), 1);
}

TEST_F(RecordManagerStopTest, TheCallbackMayStopTheCastFromTheCaptureQueue)
{
    auto manager = makeManager();
    observer.onUnit = [&](size_t index) {
        if (index == 2)
            manager->StopRecord();
        return 0;
    };
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(observer.waitForUnits(3));
    EXPECT_FALSE(manager->IsStarted());
    manager->deallocRecord();
    manager.reset();
    EXPECT_EQ(observer.count(), 3u);
}

TEST_F(RecordManagerStopTest, ACallbackMayAskTheStateWhileAnotherThreadStops)
{
    auto manager = makeManager();
    std::promise<void> inFrame;
    std::promise<void> stopping;
    std::future<void> stopLaunched = stopping.get_future();
    // Asked from a thread of its own, so that a stop that waits for this frame with its lock held
    // fails the test instead of hanging it.
    std::future<bool> answer;
    bool answered = false;
    observer.onUnit = [&](size_t index) {
        if (index != 2)
            return 0;
        inFrame.set_value();
        if (stopLaunched.wait_for(std::chrono::seconds(30)) == std::future_status::ready) {
            // Lets the stop reach its wait for this very frame.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            answer = std::async(std::launch::async, [&] { return manager->IsStarted() || manager->width() > 0; });
            answered = answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        }
        return 0;
    };
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    auto frameEntered = inFrame.get_future();
    ASSERT_EQ(frameEntered.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    std::thread stopper([&] {
        stopping.set_value();
        manager->StopRecord();
    });
    stopper.join();
    EXPECT_TRUE(answered);
    ASSERT_TRUE(answer.valid());
    // Asked during the stop: the cast no longer counts as started, and keeps its size until deallocRecord.
    EXPECT_TRUE(answer.get());
    EXPECT_FALSE(manager->IsStarted());
}

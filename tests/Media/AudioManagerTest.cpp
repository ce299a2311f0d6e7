#include "Media/AudioManager/AudioManager.h"

#include "Media/AudioManager/AacEncoder.h"

#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Points the sound client at a server that does not exist, so a start records nothing and never
// reaches (or spawns) a real session.
class AudioManagerTest : public ::testing::Test {
protected:
    // A recording that the server accepted; the test hands the packets in itself.
    static AudioManager::CaptureStarter accepted()
    {
        return [](auto) { return std::make_shared<int>(0); };
    }

private:
    ScopedEnv noServer_{"PULSE_SERVER", "unix:/nonexistent/pelkor-test/native"};
};

// Collects delivered frames; can hold the first one until released.
struct Receiver {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<uint8_t>> frames;
    bool holdFirst = false;
    bool entered = false;
    bool released = false;
    bool stopped = false;
    int afterStop = 0;
    uint32_t marker = 0;  // a frame of this length ends the test

    static int32_t onFrame(void* user, const uint8_t* bytes, uint32_t length)
    {
        auto* self = static_cast<Receiver*>(user);
        std::unique_lock lock(self->mutex);
        if (self->holdFirst && !self->entered) {
            self->entered = true;
            self->changed.notify_all();
            self->changed.wait(lock, [&] { return self->released; });
        }
        if (self->stopped && length != self->marker)
            ++self->afterStop;
        self->frames.emplace_back(bytes, bytes + length);
        self->changed.notify_all();
        return 0;
    }

    // Waits until a frame of length has arrived; everything queued before it is done by then.
    bool waitFor(uint32_t length)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(20), [&] {
            return !frames.empty() && frames.back().size() == length;
        });
    }
};

}  // namespace

TEST_F(AudioManagerTest, FramesArriveInOrderAndTinyOrOversizedPacketsAreDropped)
{
    AudioManager manager(AacEncoder::create, accepted());
    Receiver receiver;
    manager.StartRecord();
    manager.SetCallback(&receiver, Receiver::onFrame);
    manager.captureOutput(std::vector<uint8_t>(6, 2));     // frame of 13 bytes: dropped
    manager.captureOutput(std::vector<uint8_t>(8185, 3));  // does not fit the length field: dropped
    manager.captureOutput(std::vector<uint8_t>(7, 4));
    manager.captureOutput(std::vector<uint8_t>(100, 5));
    ASSERT_TRUE(receiver.waitFor(107));

    std::lock_guard lock(receiver.mutex);
    ASSERT_EQ(receiver.frames.size(), 2u);
    EXPECT_EQ(receiver.frames[0].size(), 14u);
    EXPECT_EQ(receiver.frames[0][7], 4);
    EXPECT_EQ(std::vector<uint8_t>(receiver.frames[1].begin(), receiver.frames[1].begin() + 7),
              (std::vector<uint8_t>{0xFF, 0xF9, 0x50, 0x80, 0x0D, 0x7F, 0xFC}));
    EXPECT_EQ(receiver.frames[1][106], 5);
}

TEST_F(AudioManagerTest, NothingIsDeliveredOnceStopReturns)
{
    AudioManager manager(AacEncoder::create, accepted());
    Receiver receiver;
    receiver.holdFirst = true;
    receiver.marker = 7 + 33;
    manager.SetCallback(&receiver, Receiver::onFrame);
    manager.StartRecord();
    for (int i = 0; i < 50; ++i)
        manager.captureOutput(std::vector<uint8_t>(20, 1));
    {
        std::unique_lock lock(receiver.mutex);
        receiver.changed.wait(lock, [&] { return receiver.entered; });
        receiver.released = true;
        receiver.changed.notify_all();
    }
    manager.StopRecord();
    {
        std::lock_guard lock(receiver.mutex);
        receiver.stopped = true;
    }
    EXPECT_FALSE(manager.IsStarted());

    // A restart delivers its own packets only, after everything queued before it.
    manager.StartRecord();
    manager.captureOutput(std::vector<uint8_t>(33, 9));
    ASSERT_TRUE(receiver.waitFor(receiver.marker));
    std::lock_guard lock(receiver.mutex);
    EXPECT_EQ(receiver.afterStop, 0);
}

TEST_F(AudioManagerTest, StartAndStopAreIdempotentAndDestructionWithQueuedPacketsIsSafe)
{
    Receiver receiver;
    auto manager = std::make_unique<AudioManager>(AacEncoder::create, accepted());
    manager->StopRecord();
    EXPECT_FALSE(manager->IsStarted());
    manager->StartRecord();
    manager->StartRecord();
    EXPECT_TRUE(manager->IsStarted());
    manager->SetCallback(&receiver, Receiver::onFrame);
    for (int i = 0; i < 200; ++i)
        manager->captureOutput(std::vector<uint8_t>(500, 1));
    manager.reset();
    size_t deliveredBeforeDestruction = 0;
    {
        std::lock_guard lock(receiver.mutex);
        deliveredBeforeDestruction = receiver.frames.size();
    }

    // The queued work outlives the object and must neither touch it nor deliver; a second object
    // keeps the pool busy meanwhile so the sanitizers see that work run.
    AudioManager later(AacEncoder::create, accepted());
    Receiver marker;
    later.SetCallback(&marker, Receiver::onFrame);
    later.StartRecord();
    later.captureOutput(std::vector<uint8_t>(10, 1));
    ASSERT_TRUE(marker.waitFor(17));
    std::lock_guard lock(receiver.mutex);
    EXPECT_EQ(receiver.frames.size(), deliveredBeforeDestruction);
}

TEST_F(AudioManagerTest, WithoutAnEncoderOrWhenTheSoundServerRefusesItStaysStopped)
{
    AudioManager withoutEncoder([] { return std::unique_ptr<AacEncoder>(); }, accepted());
    withoutEncoder.StartRecord();
    EXPECT_FALSE(withoutEncoder.IsStarted());
    // The fixture's sound server does not exist.
    AudioManager refused;
    refused.StartRecord();
    EXPECT_FALSE(refused.IsStarted());
}

// The controller starts on its link's queue and stops from its own stopping thread.
TEST_F(AudioManagerTest, StartsAndStopsFromTwoThreadsDoNotRace)
{
    AudioManager manager(AacEncoder::create, accepted());
    const auto churn = [&manager](bool startFirst) {
        for (int i = 0; i < 20; ++i) {
            if (startFirst)
                manager.StartRecord();
            manager.StopRecord();
            if (!startFirst)
                manager.StartRecord();
        }
    };
    std::thread starter(churn, true);
    std::thread stopper(churn, false);
    starter.join();
    stopper.join();
    manager.StopRecord();
    EXPECT_FALSE(manager.IsStarted());
}

#include "Media/AudioManager/AacEncoder.h"
#include "Media/AudioManager/AudioManager.h"
#include "Media/CheckVirtualDrivers.h"
#include "Media/RecordManagerCaptureFixture.h"
#include "Platform/MainQueue.h"
#include "Platform/TestMainLoop.h"
#include "Utils/ContractDeathTest.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// The capture's and the sound's threading contracts, asserted in debug builds.
namespace {

class RecordManagerContractsDeathTest : public RecordManagerCaptureFixture {};

// The callback runs with the lock that replacing it takes.
TEST_F(RecordManagerContractsDeathTest, TheCallbackDoesNotReplaceItself)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            auto manager = makeManager();
            observer.onUnit = [&](size_t) {
                manager->SetCallback(nullptr, nullptr);
                return 0;
            };
            manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
            awaitDeath();
        },
        "SetCallback never from the output callback");
}

// A start or stop on another thread meanwhile would deadlock with the callback.
TEST(AudioManagerContractsDeathTest, TheCallbackDoesNotStopTheCapture)
{
    SKIP_WITHOUT_ASSERTIONS();
    const ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/pelkor-test/native");
    EXPECT_DEATH(
        {
            AudioManager manager(AacEncoder::create, [](auto) { return std::make_shared<int>(0); });
            manager.SetCallback(&manager, [](void* user, const uint8_t*, uint32_t) {
                static_cast<AudioManager*>(user)->StopRecord();
                return 0;
            });
            manager.StartRecord();
            manager.captureOutput(std::vector<uint8_t>(20, 1));
            awaitDeath();
        },
        "never from the audio callback");
}

// It waits for the install script, which would hang the user interface.
TEST(CheckVirtualDriversContractsDeathTest, TheInstallDoesNotRunOnTheMainQueue)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            MainQueue::install(std::make_shared<TestMainLoop>());
            CheckVirtualDrivers({"/nonexistent/installed", "/nonexistent/resources"}, true).installPlugin();
        },
        "installPlugin never on the main queue");
}

} // namespace

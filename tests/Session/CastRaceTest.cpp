#include "Session/CastingFixture.h"
#include "Session/CastingController.h"

#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// The TV's answer is posted from the link's queue while another thread asks for the end of the cast,
// and a capture thread hands frames and sound to the controller throughout: the two reach the main
// queue in either order. Whichever comes first, once both have run no capture is left running, and no
// frame is handed over after the stop.
class CastRaceTest : public CastingFixture {
protected:
    enum class Ending { Stop, TimeOut, Disconnect };

    void raceAnAnswerWith(Ending ending);
};

void CastRaceTest::raceAnAnswerWith(Ending ending)
{
    TestMainLoop& mainLoop = *loop;
    for (int round = 0; round < 20; ++round) {
        casting().clickScreen(true);
        std::atomic<bool> delivering{true};
        std::thread capture([&] {
            const std::vector<uint8_t> unit = {0, 0, 0, 1, 0x65, 0x88};
            while (delivering.load()) {
                media.deliverVideo(unit);
                media.deliverSound(unit);
                std::this_thread::yield();
            }
        });
        link.processQueue()->async([&] { controller->casting().onVideoQuality(1 + round % 4, 0, 0, 0); });
        std::thread ender([&] {
            if (ending == Ending::Stop)
                MainQueue::shared()->async([&] { casting().clickStopScreenBtn(); });
            else if (ending == Ending::Disconnect)
                MainQueue::shared()->async([&] { casting().stopScreenSharing(CastStop::LinkEnded); });
        });
        if (round % 2 == 0)
            mainLoop.runUntilIdle();
        if (ending == Ending::TimeOut)
            mainLoop.advance(CastingController::kQualityAnswerTimeout);
        ender.join();
        link.processQueue()->sync([] {});
        mainLoop.runUntilIdle();

        const uint64_t handedOver = casting().totals().videoFrames;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        delivering.store(false);
        capture.join();
        // A time-out is disarmed by an answer that came first; then the cast goes on, and stops here.
        if (casting().castRunning())
            casting().clickStopScreenBtn();
        EXPECT_FALSE(media.videoRunning()) << "round " << round;
        EXPECT_FALSE(media.soundRunning()) << "round " << round;
        if (ending != Ending::TimeOut) {
            EXPECT_EQ(casting().totals().videoFrames, handedOver) << "a frame after the stop, round " << round;
        }
    }
}

TEST_F(CastRaceTest, AnAnswerRacingTheStopButtonLeavesNoCapture)
{
    connect();
    raceAnAnswerWith(Ending::Stop);
}

TEST_F(CastRaceTest, AnAnswerRacingTheTimeOutLeavesNoCapture)
{
    connect();
    raceAnAnswerWith(Ending::TimeOut);
}

TEST_F(CastRaceTest, AnAnswerRacingADisconnectLeavesNoCapture)
{
    connect();
    raceAnAnswerWith(Ending::Disconnect);
}

} // namespace

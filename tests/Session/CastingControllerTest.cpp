#include "Session/CastingFixture.h"

#include "Session/CastQuality.h"
#include "Session/CastingController.h"
#include "Utils/LocalizedText.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using CastingControllerTest = CastingFixture;
using Strings = std::vector<std::string>;

// The line RecordingView writes for a warning with the text of `key`.
std::string alert(const char* key)
{
    return "alert " + LocalizedText::text("STRING_TIP") + " / " + LocalizedText::text(key);
}

bool contains(const Strings& calls, const std::string& call)
{
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

// A level or a choice outside the tables (a TV's or a stored value) falls back to 1080p.
TEST(CastQualityTest, UnknownLevelsAndChoicesFallBackTo1080p)
{
    for (const int level : {0, 5, -1, 99})
        EXPECT_EQ(CastQuality::forLevel(level), (CastQuality::Format{1920, 1080, 30})) << level;
    for (const int choice : {-1, 5, 99})
        EXPECT_EQ(CastQuality::encodedSize(choice, {1600, 900}), (Size{1920, 1080})) << choice;
}

// The screen button announces 1920 x 1080 and the sound format; capture waits for the TV, whose answer
// sets the size and rate by its level alone and announces the size again.
TEST_F(CastingControllerTest, TheTvsAnswerStartsCaptureAtTheSizeOfItsLevel)
{
    connect();
    announce();
    EXPECT_TRUE(casting().castRunning());
    EXPECT_TRUE(media.events().empty()) << "capture before the answer";
    EXPECT_TRUE(contains(view.calls, "showCastingState fromScreenButton=1"));

    answer(1);
    EXPECT_EQ(media.events(), (Strings{"video start 1280x720@10 type=0 screen=7", "sound start"}));
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastVideoFormat, 2));
    EXPECT_EQ(videoFormats(), (std::vector<Format>{{1920, 1080, 0}, {1280, 720, 0}}));
    EXPECT_FLOAT_EQ(state().tvTounchRatioX, 2880.0f / 1280);
    EXPECT_FLOAT_EQ(state().tvTounchRatioY, 1620.0f / 720);

    // The same answer again changes nothing; a new level restarts video and keeps the sound.
    casting().onVideoQuality(1, 0, 0, 0);
    EXPECT_EQ(countEvents("video start"), 1u);
    answer(4);
    EXPECT_EQ(media.events(), (Strings{"video start 1280x720@10 type=0 screen=7", "sound start", "video stop",
                                       "video dealloc", "video destroyed", "video start 1600x900@15 type=0 screen=7"}));
}

TEST_F(CastingControllerTest, WithoutAnAnswerTheCastStopsAfterTwoSeconds)
{
    connect();
    announce();
    loop->advance(CastingController::kQualityAnswerTimeout - std::chrono::milliseconds(1));
    EXPECT_TRUE(casting().castRunning());
    loop->advance(std::chrono::milliseconds(1));
    EXPECT_FALSE(casting().castRunning());
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
    EXPECT_TRUE(contains(view.calls, "showIdleState screenType=0"));
    EXPECT_EQ(view.last("toast").rfind("toast " + LocalizedText::text("STRING_CAST_NO_ANSWER") + " close=1", 0), 0u)
        << "the cast's end is said";

    // A late answer starts nothing.
    controller->casting().onVideoQuality(2, 0, 0, 0);
    loop->runUntilIdle();
    EXPECT_TRUE(media.events().empty());
}

TEST_F(CastingControllerTest, AnAnswerInTimeDisarmsTheTimeOut)
{
    connect();
    announce();
    loop->advance(std::chrono::milliseconds(1'500));
    answer(2);
    loop->advance(std::chrono::seconds(5));
    EXPECT_TRUE(casting().castRunning());
    EXPECT_TRUE(media.videoRunning());
    EXPECT_EQ(sim.receivedCount(kMsgCastStop), 0u);
}

// The choice made before the TV's first answer finds no frame rate and no size: it is kept, capture
// does not start, and the time-out stays armed; the answer then applies it.
TEST_F(CastingControllerTest, AQualityChangeBeforeTheFirstAnswerOnlyKeepsTheChoice)
{
    connect();
    announce();
    gSelectedQualityIndex.store(3);
    casting().userChangeVideoQuality();
    EXPECT_TRUE(media.events().empty());
    EXPECT_EQ(state().screenFps, 0);

    answer(1);
    EXPECT_EQ(media.events().front(), "video start 2560x1440@10 type=0 screen=7");

    // Another choice while capturing restarts at once at the new size and the answered rate.
    gSelectedQualityIndex.store(2);
    casting().userChangeVideoQuality();
    EXPECT_EQ(media.events().back(), "video start 1280x720@10 type=0 screen=7");
}

TEST_F(CastingControllerTest, AnUnansweredChoiceLeavesTheTimeOutArmed)
{
    connect();
    announce();
    gSelectedQualityIndex.store(1);
    casting().userChangeVideoQuality();
    loop->advance(CastingController::kQualityAnswerTimeout);
    EXPECT_FALSE(casting().castRunning());
    EXPECT_TRUE(media.events().empty());
}

TEST_F(CastingControllerTest, WhileIdleAChoiceSetsTheNextAnnouncedSize)
{
    gSelectedQualityIndex.store(2);
    casting().userChangeVideoQuality();
    EXPECT_EQ(state().screenWidth, 1280);
    EXPECT_EQ(state().screenHeight, 720);
}

// Stopping: sending stops first, then video and sound capture (each waits for its callback in
// flight); the frames still queued for the TV are dropped, and kMsgCastStop goes out last. A TV that
// reads slowly holds frames in the send list, which would otherwise follow the stop (other messages
// go out before media).
TEST_F(CastingControllerTest, NoFrameFollowsTheStopMessage)
{
    connect();
    announce();
    answer(2);
    sim.setReading(false);
    const std::vector<uint8_t> frame(1024 * 1024, 0x41);
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(media.deliverVideo(frame));
    casting().clickStopScreenBtn();
    EXPECT_FALSE(media.deliverVideo(frame)) << "a callback after the stop";
    EXPECT_EQ(media.events(), (Strings{"video start 1600x900@10 type=0 screen=7", "sound start", "video stop",
                                       "video dealloc", "video destroyed", "sound stop"}));
    EXPECT_TRUE(contains(view.calls, "showIdleState screenType=0"));

    // A marker queued behind whatever video is still waiting (as soon as the list has room): once it
    // arrives, all of that has.
    sim.setReading(true);
    const std::vector<uint8_t> marker(7, 0x4D);
    ASSERT_TRUE(loop->runUntil([&] { return link.sendType(kMsgVideoFrame, marker.data(), int(marker.size())); }));
    ASSERT_TRUE(sim.waitUntil([&](const std::vector<ReceivedMessage>& messages) {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const ReceivedMessage& m) { return m.type == kMsgVideoFrame && m.length == marker.size(); });
    }));
    const auto types = receivedTypes();
    const auto stop = std::find(types.begin(), types.end(), kMsgCastStop);
    ASSERT_NE(stop, types.end());
    EXPECT_EQ(std::count(stop, types.end(), kMsgVideoFrame), 1) << "video between the stop message and the marker";
    EXPECT_GT(std::count(types.begin(), stop, kMsgVideoFrame), 0);
}

TEST_F(CastingControllerTest, EditionFiveRefusesACastButNotAStop)
{
    connect();
    state().activeVersion = CastingController::kEditionWithoutCasting;
    casting().clickScreen(true);
    EXPECT_TRUE(contains(view.calls, "toast " + LocalizedText::text("STRING_VERSION_LOW") + " close=0 position=1 time=3.000000"));
    EXPECT_FALSE(casting().castRunning());

    // A cast the TV asked for still stops from the button.
    casting().tvRequestMirror();
    loop->runUntilIdle();
    EXPECT_TRUE(casting().castRunning());
    casting().clickStopScreenBtn();
    EXPECT_FALSE(casting().castRunning());
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
}

TEST_F(CastingControllerTest, TheCastingCodeIsAskedForUntilItMatches)
{
    connect();
    state().screenProjectionCode = "A1B2C3";
    casting().clickScreen(true);
    EXPECT_EQ(view.calls.back(), "showCastingCodeWindow");
    EXPECT_FALSE(casting().castRunning());

    // A wrong code keeps the window open, the error under its field.
    casting().inputScreenProjectionCode("A1B2C4");
    EXPECT_EQ(view.calls.back(), "showCastingCodeError " + LocalizedText::text("STRING_INPUT_ERROR"));
    EXPECT_EQ(view.last("hideCastingCodeWindow"), "");
    EXPECT_FALSE(casting().castRunning());

    casting().cancelScreenProjectionCodeButton();
    EXPECT_EQ(view.calls.back(), "setCastingCodeText ");
    EXPECT_EQ(state().inputScreenProjectionCode, "");

    // Letters in either case.
    casting().inputScreenProjectionCode("a1b2c3");
    EXPECT_TRUE(casting().castRunning());
    EXPECT_TRUE(contains(view.calls, "showCastingCodeError "));
    EXPECT_EQ(view.last("showCastingState"), "showCastingState fromScreenButton=1");

    // No code from the TV yet: nothing matches, not even an empty field.
    casting().clickStopScreenBtn();
    state().screenProjectionCode.reset();
    state().inputScreenProjectionCode = "";
    casting().clickScreen(true);
    EXPECT_EQ(view.calls.back(), "showCastingCodeWindow");
}

// The first twelve sound buffers after the controller was made are dropped, once: a second cast sends
// from its first buffer. The sound switch stops sending at once; video goes on.
TEST_F(CastingControllerTest, SoundDropsTwelveBuffersOnceAndFollowsItsSwitch)
{
    connect();
    announce();
    answer(1);
    const std::vector<uint8_t> adts = {0xFF, 0xF1, 0x50, 0x80, 0x01, 0x1F, 0xFC};
    for (int i = 0; i < CastingController::kDroppedSoundBuffers; ++i)
        ASSERT_TRUE(media.deliverSound(adts));
    EXPECT_EQ(casting().totals().audioFrames, 0u);
    ASSERT_TRUE(media.deliverSound(adts));
    EXPECT_EQ(casting().totals().audioFrames, 1u);

    casting().reportSoundSwitchState(false);
    ASSERT_TRUE(media.deliverSound(adts));
    ASSERT_TRUE(media.deliverVideo({0, 0, 0, 1, 0x65}));
    EXPECT_EQ(casting().totals().audioFrames, 1u);
    EXPECT_EQ(casting().totals().videoFrames, 1u);
    EXPECT_TRUE(media.soundRunning()) << "the switch stops only the sending";
    casting().reportSoundSwitchState(true);

    // Received before the stop, which drops what is still queued.
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgAudioFrame, 1));
    casting().clickStopScreenBtn();
    announce();
    answer(1);
    ASSERT_TRUE(media.deliverSound(adts));
    EXPECT_EQ(casting().totals().audioFrames, 2u);
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgAudioFrame, 2));
}

// The user's sound devices stay as they are until a cast's sound capture starts, and are back at each
// cast's end, whatever ended it.
TEST_F(CastingControllerTest, TheSoundGoesToTheLoopbackOnlyWhileACastCapturesSound)
{
    connect();
    announce();
    EXPECT_TRUE(soundRouting.empty()) << "switched before the TV answered";
    answer(1);
    answer(4);
    EXPECT_EQ(soundRouting, (Strings{"route"})) << "a restart of video keeps the sound and its routing";
    casting().clickStopScreenBtn();
    EXPECT_EQ(soundRouting, (Strings{"route", "restore"}));

    casting().clickStopScreenBtn();
    EXPECT_EQ(soundRouting.size(), 2u) << "a stop without a cast restores nothing";
    announce();
    answer(1);
    casting().stopScreenSharing(CastStop::LinkEnded);
    EXPECT_EQ(soundRouting, (Strings{"route", "restore", "route", "restore"}));
}

TEST_F(CastingControllerTest, TheTvStartsACastWithoutACodeUnlessItsScreenIsViewed)
{
    connect();
    state().screenProjectionCode = "A1B2C3";
    state().viewingTvScreen = true;
    controller->casting().tvRequestMirror();
    loop->runUntilIdle();
    EXPECT_TRUE(contains(view.calls, alert("STRING_STOP_TVMIRROR")));
    EXPECT_FALSE(casting().castRunning());

    state().viewingTvScreen = false;
    controller->casting().tvRequestMirror();
    loop->runUntilIdle();
    EXPECT_TRUE(casting().castRunning());
    EXPECT_EQ(view.last("showCastingState"), "showCastingState fromScreenButton=0");
    EXPECT_EQ(state().screenFps, 0);
}

TEST_F(CastingControllerTest, TheTvsInterruptAndLockStopTheCast)
{
    connect();
    announce();
    answer(1);
    ASSERT_TRUE(sim.send(kMsgTvInterruptCast));
    ASSERT_TRUE(loop->runUntil([&] { return !casting().castRunning(); }));
    EXPECT_FALSE(media.videoRunning());

    announce();
    answer(1);
    ASSERT_TRUE(sim.send(kMsgMirrorLocked));
    ASSERT_TRUE(loop->runUntil([&] { return bool(view.pendingAlert); }));
    EXPECT_TRUE(casting().castRunning()) << "the cast stops once the alert is closed";
    view.pendingAlert();
    EXPECT_FALSE(casting().castRunning());
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 2));
}

TEST_F(CastingControllerTest, ADisconnectStopsCaptureAndSendsNothing)
{
    connect();
    announce();
    answer(1);
    casting().stopScreenSharing(CastStop::LinkEnded);
    EXPECT_FALSE(casting().castRunning());
    EXPECT_FALSE(media.videoRunning());
    EXPECT_FALSE(media.soundRunning());
    loop->advance(CastingController::kQualityAnswerTimeout);
    EXPECT_EQ(sim.receivedCount(kMsgCastStop), 0u);
}

TEST_F(CastingControllerTest, TheQualityEntryFollowsTheTvHalfASecondLater)
{
    gSelectedQualityIndex.store(3);
    controller->casting().supportChangeQuality(true);
    loop->advance(CastingController::kQualitySupportDelay - std::chrono::milliseconds(1));
    EXPECT_FALSE(contains(view.calls, "showQualityEntry 1"));
    loop->advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(contains(view.calls, "showQualityEntry 1"));
    EXPECT_EQ(gSelectedQualityIndex.load(), 3);

    controller->casting().supportChangeQuality(false);
    loop->advance(CastingController::kQualitySupportDelay);
    EXPECT_EQ(view.calls.back(), "showQualityEntry 0");
    EXPECT_EQ(gSelectedQualityIndex.load(), 0);
}

} // namespace

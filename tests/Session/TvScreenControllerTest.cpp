// Viewing the TV's screen through the session controller, against tv-sim on 127.0.0.1: the buttons, the
// TV's answers and refusals, and the road of its stream to the window's picture.
#include "Platform/SerialQueue.h"
#include "Utils/LocalizedText.h"
#include "Session/SessionTestSupport.h"
#include "UI/TvMirror/DisplayWindowController.h"
#include "Session/TvScreenController.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace {

using namespace std::chrono_literals;

std::string text(const char* key)
{
    return LocalizedText::text(key);
}

class TvScreenControllerTest : public SessionFixture {
protected:
    static TvSim::Options viewingTv(int width, int height)
    {
        TvSim::Options options = tvOptions();
        options.screen = {.width = width, .height = height, .fps = 30};
        return options;
    }

    explicit TvScreenControllerTest(TvSim::Options options = viewingTv(1920, 1080)) : SessionFixture(std::move(options)) {}

    void SetUp() override
    {
        SessionFixture::SetUp();
        makeController();
        connectTyped();
    }

    TvScreenController& viewing() { return controller->viewing(); }
    RecordingDisplayWindowView& window() { return view.displayWindow; }

    // The user presses the view button and the TV answers with its size.
    void startViewing()
    {
        controller->viewing().clickMirrorBtn(true);
        ASSERT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStart, 1));
        ASSERT_TRUE(runUntil([&] { return tv.viewSize().has_value(); }));
    }
    // The main queue runs while the TV waits for a message of that type.
    bool waitForTv(uint16_t type) { return runUntil([&] { return tv.receivedCount(type) > 0; }); }
    bool waitForPictureSamples(int count)
    {
        return runUntil([&] { return view.layer.enqueued >= count; });
    }
};

TEST_F(TvScreenControllerTest, TheViewButtonStartsViewingAndTheTvsSizeIsEchoedAndShapesTheWindow)
{
    startViewing();
    EXPECT_TRUE(window().visible);
    EXPECT_TRUE(state().viewingTvScreen);
    EXPECT_EQ(view.last("showViewingState"), "showViewingState 1");
    // The TV's own size, big-endian.
    const std::vector<uint8_t> expected{0x00, 0x00, 0x07, 0x80, 0x00, 0x00, 0x04, 0x38};
    EXPECT_EQ(tv.received(kMsgViewSize).at(0).payload, expected);
    ASSERT_TRUE(runUntil([&] { return window().content == DisplaySize{1280, 720}; }));
    EXPECT_FLOAT_EQ(viewing().displayWindow().mouseScaleX(), 1.5f);

    // The stop takes clicks half a second after the size came, not before.
    loop->runUntilIdle();
    EXPECT_TRUE(view.callsStartingWith("setStopMirrorButtonEnabled").empty());
    loop->advance(TvScreenController::kButtonDelay);
    EXPECT_EQ(view.last("setStopMirrorButtonEnabled"), "setStopMirrorButtonEnabled 1");

    // The stream is split and each sample reaches the window's picture, with the stream's format.
    ASSERT_TRUE(waitForPictureSamples(3));
    for (const auto& sample : view.layer.samples())
        EXPECT_NE(sample->formatDescription(), nullptr);
}

TEST_F(TvScreenControllerTest, ASizePastTheLargestPictureSizesNoWindowAndIsNotEchoed)
{
    startViewing();
    ASSERT_TRUE(runUntil([&] { return window().content == DisplaySize{1280, 720}; }));
    for (const auto& [width, height] : {std::pair{65'536, 1080}, std::pair{1920, 0}, std::pair{-1920, 1080}})
        viewing().onReceiveScreenReaolution(width, height);
    syncWithTv();
    loop->runUntilIdle();
    EXPECT_EQ(tv.receivedCount(kMsgViewSize), 1u);
    EXPECT_EQ(window().content, (DisplaySize{1280, 720}));
}

TEST_F(TvScreenControllerTest, StoppingTellsTheTvHidesTheWindowAndANewStreamStartsClean)
{
    startViewing();
    ASSERT_TRUE(waitForPictureSamples(1));
    controller->viewing().clickMirrorBtn(false);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStop, 1));
    EXPECT_FALSE(window().visible);
    EXPECT_EQ(view.layer.flushes, 1);
    EXPECT_FALSE(state().viewingTvScreen);
    EXPECT_EQ(view.last("showViewingState"), "showViewingState 0");
    ASSERT_TRUE(runUntil([&] { return !tv.viewing(); }));

    // The next view learns the stream again: its samples come with a format once more.
    viewing().displayQueue().sync([] {});
    const int before = view.layer.enqueued;
    startViewing();
    ASSERT_TRUE(waitForPictureSamples(before + 1));
    EXPECT_NE(view.layer.samples().back()->formatDescription(), nullptr);
}

TEST_F(TvScreenControllerTest, TheStopButtonLeavesTheViewButtonDeafForHalfASecond)
{
    startViewing();
    controller->viewing().clickStopMirrorBtn();
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStop, 1));
    EXPECT_EQ(view.last("setMirrorButtonEnabled"), "setMirrorButtonEnabled 0");
    EXPECT_EQ(view.last("setMirrorButtonOn"), "setMirrorButtonOn 0");
    loop->advance(TvScreenController::kButtonDelay - 1ms);
    EXPECT_EQ(view.last("setMirrorButtonEnabled"), "setMirrorButtonEnabled 0");
    loop->advance(1ms);
    EXPECT_EQ(view.last("setMirrorButtonEnabled"), "setMirrorButtonEnabled 1");
}

TEST_F(TvScreenControllerTest, ALowEditionOrARunningCastRefusesToStartAndLeavesTheButtonOff)
{
    state().activeVersion = 2;
    controller->viewing().clickMirrorBtn(true);
    EXPECT_EQ(view.last("toast"), "toast " + text("STRING_VERSION_LOW") + " close=0 position=1 time=3.000000");
    // The toggle shows off again, so the next press is a start, not a stop.
    EXPECT_EQ(view.last("setMirrorButtonOn"), "setMirrorButtonOn 0");

    state().activeVersion = 3;
    // An announced cast runs until the TV's answer, which this TV never gives.
    controller->casting().startScreenSharing(0, 0);
    controller->viewing().clickMirrorBtn(true);
    EXPECT_EQ(view.last("alert"), "alert " + text("STRING_TIP") + " / " + text("STRING_STOP_SCREEN"));
    EXPECT_EQ(view.last("setMirrorButtonOn"), "setMirrorButtonOn 0");
    EXPECT_FALSE(window().visible);
    syncWithTv();
    EXPECT_EQ(tv.receivedCount(kMsgTvScreenStart), 0u);
    controller->casting().stopScreenSharing();
}

TEST_F(TvScreenControllerTest, TheTvsStopIsAnsweredUnlessACastRuns)
{
    startViewing();
    controller->casting().startScreenSharing(0, 0);
    ASSERT_TRUE(runUntil([&] { return tv.viewing(); }));
    ASSERT_TRUE(tv.stopViewing());
    syncWithTv();
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(tv.receivedCount(kMsgTvScreenStop), 0u);

    controller->casting().stopScreenSharing();
    startViewing();
    ASSERT_TRUE(runUntil([&] { return tv.viewing(); }));
    ASSERT_TRUE(tv.stopViewing());
    ASSERT_TRUE(waitForTv(kMsgTvScreenStop));
    ASSERT_TRUE(runUntil([&] { return !window().visible; }));
    loop->advance(TvScreenController::kButtonDelay);
    EXPECT_EQ(view.last("setMirrorButtonEnabled"), "setMirrorButtonEnabled 1");
}

TEST_F(TvScreenControllerTest, ClosingTheWindowStopsViewing)
{
    startViewing();
    viewing().displayWindow().windowWillClose();
    ASSERT_TRUE(waitForTv(kMsgTvScreenStop));
    EXPECT_FALSE(state().viewingTvScreen);
    // Annotation mode goes off with the window too.
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgAnnotationMode, 1));
}

TEST_F(TvScreenControllerTest, TheTvsInvitationStartsViewing)
{
    ASSERT_TRUE(tv.inviteToView());
    // The link hands it on a second after it came.
    syncWithTv();
    loop->advance(1s);
    ASSERT_TRUE(waitForTv(kMsgTvScreenStart));
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(view.last("setMirrorButtonOn"), "setMirrorButtonOn 1");
}

TEST_F(TvScreenControllerTest, AnInvitationAfterTheLinkEndedIsIgnored)
{
    controller->connection().clickDisConnectBtn();
    ASSERT_TRUE(runUntil([&] { return !state().ConnectWithTv; }));
    viewing().tvInviteToReverse();
    EXPECT_FALSE(window().visible);
    EXPECT_TRUE(view.callsStartingWith("showViewingState 1").empty());
}

TEST_F(TvScreenControllerTest, ADisconnectStopsViewingWithoutAWordToTheTv)
{
    startViewing();
    tv.closeLink();
    ASSERT_TRUE(runUntil([&] { return !state().ConnectWithTv; }));
    EXPECT_FALSE(window().visible);
    EXPECT_FALSE(state().viewingTvScreen);
    EXPECT_EQ(view.layer.flushes, 1);
    EXPECT_EQ(tv.receivedCount(kMsgTvScreenStop), 0u);
}

class TvScreenRefusalTest : public TvScreenControllerTest,
                            public ::testing::WithParamInterface<std::pair<int32_t, const char*>> {
protected:
    TvScreenRefusalTest() : TvScreenControllerTest(refusingTv(GetParam().first)) {}
    static TvSim::Options refusingTv(int32_t reason)
    {
        TvSim::Options options = viewingTv(1280, 720);
        options.viewRefusal = reason;
        return options;
    }
};

TEST_P(TvScreenRefusalTest, TheRefusalStopsViewingAndNamesTheReason)
{
    controller->viewing().clickMirrorBtn(true);
    ASSERT_TRUE(waitForTv(kMsgTvScreenStop));
    ASSERT_TRUE(waitForView("alert"));
    EXPECT_EQ(view.last("alert"), "alert " + text("STRING_TIP") + " / " + text(GetParam().second));
    EXPECT_FALSE(window().visible);
    EXPECT_EQ(view.last("setMirrorButtonEnabled"), "setMirrorButtonEnabled 1");
}

INSTANTIATE_TEST_SUITE_P(Reasons, TvScreenRefusalTest,
                         ::testing::Values(std::make_pair(0, "STRING_ONLY_SPEAKER_SCREEN"),
                                           std::make_pair(3, "STRING_EXIST_SCREEN")));

// A key frame of a stream, split as the splitter would: SPS, PPS, IDR slice.
std::vector<uint8_t> keyFramePacket()
{
    return {0, 0, 0, 1, 0x67, 0x42, 0x00, 0x1E, 0xAB, 0, 0, 0, 1, 0x68, 0xCE, 0x38, 0x80,
            0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0x43};
}

TEST_F(TvScreenControllerTest, ThePacketsBytesLiveAsLongAsTheSamplesCutFromIt)
{
    // The link's buffer is valid during the call only: it is overwritten and freed at once.
    auto received = std::make_unique<std::vector<uint8_t>>(keyFramePacket());
    controller->viewing().onReveiveScreenVideoData(received->data(), static_cast<int64_t>(received->size()));
    std::ranges::fill(*received, 0xEE);
    received.reset();
    viewing().displayQueue().sync([] {});

    const auto samples = view.layer.samples();
    ASSERT_EQ(samples.size(), 1u);
    const std::vector<uint8_t> slice{0, 0, 0, 1, 0x65, 0x88, 0x84, 0x21, 0x43};
    // Long after the controller let go of its copy, and with nothing freed on a timer.
    loop->advance(1s);
    EXPECT_TRUE(std::ranges::equal(samples[0]->data(), slice));

    // Nothing of an empty or missing packet reaches the splitter.
    controller->viewing().onReveiveScreenVideoData(nullptr, 10);
    controller->viewing().onReveiveScreenVideoData(received ? received->data() : nullptr, 0);
    viewing().displayQueue().sync([] {});
    EXPECT_EQ(view.layer.samples().size(), 1u);
}

} // namespace

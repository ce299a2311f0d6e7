#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "UI/TvMirror/DisplayWindowFixture.h"
#include "Media/VideoFormatDescription.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using DisplayWindowControllerTest = DisplayWindowFixture;

TEST_F(DisplayWindowControllerTest, ALandscapeTvSizesTheWindowAndTheScales)
{
    tvResolution(1920, 1080);

    EXPECT_EQ(view.content, (DisplaySize{1280, 720}));
    EXPECT_FLOAT_EQ(controller.mouseScaleX(), 1.5f);
    EXPECT_FLOAT_EQ(controller.mouseScaleY(), 1.5f);
    EXPECT_EQ(controller.tvScreenSize(), (DisplaySize{1920, 1080}));
    EXPECT_EQ(view.calls, (std::vector<std::string>{"setContentSize 1280.000000 x 720.000000", "raiseSidebarHandle",
                                                    "centerWindow"}));
}

TEST_F(DisplayWindowControllerTest, APortraitTvKeepsTheHeight)
{
    tvResolution(1080, 1920);

    EXPECT_NEAR(view.content.width, 405, 1e-9);
    EXPECT_EQ(view.content.height, 720);
    EXPECT_NEAR(controller.mouseScaleX(), 2.667f, 1e-3);
    EXPECT_NEAR(controller.mouseScaleY(), 2.667f, 1e-3);

    // A square TV takes the portrait branch.
    tvResolution(1000, 1000);
    EXPECT_EQ(view.content, (DisplaySize{720, 720}));
}

TEST_F(DisplayWindowControllerTest, ATvResolutionOfNoLengthIsIgnored)
{
    tvResolution(1920, 1080);
    view.calls.clear();

    for (const DisplaySize tv : {DisplaySize{0, 0}, DisplaySize{0, 1080}, DisplaySize{1920, 0}, DisplaySize{-1, -1}})
        tvResolution(tv.width, tv.height);

    EXPECT_TRUE(view.calls.empty());
    EXPECT_EQ(view.content, (DisplaySize{1280, 720}));
    EXPECT_EQ(controller.tvScreenSize(), (DisplaySize{1920, 1080}));
    EXPECT_FLOAT_EQ(controller.mouseScaleX(), 1.5f);
    EXPECT_FLOAT_EQ(controller.mouseScaleY(), 1.5f);
}

TEST_F(DisplayWindowControllerTest, AnnouncingTheWindowSizeSwitchesTouchesToContentPoints)
{
    tvResolution(1920, 1080);
    view.content = {1000.7, 562.9};

    controller.getWindowSizeSendTv(kMsgViewSize);
    EXPECT_TRUE(sent.empty()) << "waits for the main queue";
    loop->runUntilIdle();

    EXPECT_EQ(controller.mouseScaleX(), 1.0f);
    EXPECT_EQ(controller.mouseScaleY(), 1.0f);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (SentMessage{kMsgViewSize, {0, 0, 0x03, 0xE8, 0, 0, 0x02, 0x32}}));

    // A user resize goes back to TV pixels.
    view.content = {1000, 562.5};
    controller.windowDidResize();
    EXPECT_FLOAT_EQ(controller.mouseScaleX(), 1.92f);
    EXPECT_FLOAT_EQ(controller.mouseScaleY(), 1.92f);
}

TEST_F(DisplayWindowControllerTest, AWindowOfNoSizeStillResetsTheScalesToExactlyOne)
{
    view.content = {0, 0};
    controller.getWindowSizeSendTv(kMsgViewSize);
    loop->runUntilIdle();

    EXPECT_EQ(controller.mouseScaleX(), 1.0f);
    EXPECT_EQ(controller.mouseScaleY(), 1.0f);
    EXPECT_EQ(sent.at(0), (SentMessage{kMsgViewSize, std::vector<uint8_t>(8, 0)}));
}

TEST_F(DisplayWindowControllerTest, AResizeBeforeAnyTvSizeGivesScalesOfZero)
{
    EXPECT_EQ(controller.mouseScaleX(), 1.0f);
    controller.windowDidResize();
    EXPECT_EQ(controller.mouseScaleX(), 0.0f);
    EXPECT_EQ(controller.mouseScaleY(), 0.0f);
}

TEST_F(DisplayWindowControllerTest, DraggingTheEdgeKeepsSixteenByNine)
{
    view.titleBar = 28;
    EXPECT_EQ(controller.windowWillResize({1000, 900}), (DisplaySize{1000, 562.5 + 28}));
}

TEST_F(DisplayWindowControllerTest, ZoomingKeepsTheShapeCentredOnTheMainDisplay)
{
    view.frame = {{100, 100}, {1280, 800}};
    view.displayWidth = 1920;
    EXPECT_EQ(controller.windowWillUseStandardFrame({{0, 20}, {1920, 1000}}), (DisplayRect{{160, 20}, {1600, 1000}}));
}

TEST_F(DisplayWindowControllerTest, DraggingTheHandleStaysWithinTheContent)
{
    view.content = {1280, 720};
    controller.onPanGesRecognizer(DisplayWindowController::PanState::Began, 50);
    EXPECT_EQ(view.handleY, 300);
    controller.onPanGesRecognizer(DisplayWindowController::PanState::Changed, 50);
    EXPECT_EQ(view.handleY, 350);
    controller.onPanGesRecognizer(DisplayWindowController::PanState::Changed, 1000);
    EXPECT_EQ(view.handleY, 680);
    controller.onPanGesRecognizer(DisplayWindowController::PanState::Ended, -2000);
    EXPECT_EQ(view.handleY, 0);

    // A content lower than the handle holds it at the bottom.
    view.content = {20, 10};
    controller.onPanGesRecognizer(DisplayWindowController::PanState::Changed, 5);
    EXPECT_EQ(view.handleY, 0);
}

TEST_F(DisplayWindowControllerTest, TheSidebarHandleNeedsVersion75)
{
    tvVersion(74);
    EXPECT_FALSE(view.handleShown);
    EXPECT_EQ(controller.tvVersion(), 74);
    tvVersion(75);
    EXPECT_TRUE(view.handleShown);
}

TEST_F(DisplayWindowControllerTest, AControlGrantFoldsTheSidebarAndHidesTheHandleBelowVersion75)
{
    controller.sidebarEvent();
    EXPECT_TRUE(view.sidebarShown);
    EXPECT_FALSE(view.handleShown);

    controlStatus(true);
    EXPECT_FALSE(view.sidebarShown);
    EXPECT_FALSE(view.handleShown) << "version 0 before any report";

    tvVersion(80);
    controller.sidebarEvent();
    controlStatus(true);
    EXPECT_FALSE(view.sidebarShown);
    EXPECT_TRUE(view.handleShown);
}

TEST_F(DisplayWindowControllerTest, WithdrawnControlEndsAnnotationFoldsTheSidebarAndStopsTheKeys)
{
    tvVersion(80);
    controller.showWindow();
    ASSERT_TRUE(monitor.installed);
    controller.annotationEvent(true);
    controller.sidebarEvent();
    sent.clear();

    controlStatus(false);

    EXPECT_FALSE(controller.controlStatus());
    EXPECT_FALSE(controller.annotationMode());
    EXPECT_FALSE(view.annotationShown);
    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 0}}}));
    EXPECT_FALSE(view.sidebarShown);
    EXPECT_FALSE(view.handleShown);
    EXPECT_FALSE(monitor.installed);
}

TEST_F(DisplayWindowControllerTest, KeysFollowTheControlStatusOnlyWhileTheWindowShows)
{
    controlStatus(true);
    EXPECT_FALSE(monitor.installed) << "window not visible";

    controller.showWindow();
    EXPECT_TRUE(monitor.installed);

    controlStatus(false);
    controller.showWindow();
    EXPECT_FALSE(monitor.installed);

    controlStatus(true);
    EXPECT_TRUE(monitor.installed);

    controller.stopDisplayLayer();
    EXPECT_FALSE(monitor.installed);
    EXPECT_EQ(layer.flushes, 1);
}

TEST_F(DisplayWindowControllerTest, TheLinksCallsFromAnotherThreadReachTheViewOnTheMainQueue)
{
    std::thread receive([this] {
        controller.tvAppVersion(75);
        controller.changeControlStatus(false);
        controller.setMouseSize({1920, 1080});
        controller.getWindowSizeSendTv(kMsgViewSize);
    });
    receive.join();
    EXPECT_EQ(controller.tvVersion(), 75);
    EXPECT_FALSE(controller.controlStatus());
    EXPECT_TRUE(view.handleShown) << "not yet on the main queue";

    loop->runUntilIdle();
    EXPECT_FALSE(view.handleShown);
    EXPECT_EQ(sent.back(), (SentMessage{kMsgViewSize, {0, 0, 0x05, 0x00, 0, 0, 0x02, 0xD0}}));
}

TEST_F(DisplayWindowControllerTest, FramesAreDroppedUnlessTheLayerCanTakeThem)
{
    const std::vector<uint8_t> sps{0x67, 0x42, 0x00, 0x1F}, pps{0x68, 0xCE, 0x3C, 0x80};
    const auto packet = std::make_shared<const std::vector<uint8_t>>(std::vector<uint8_t>{0, 0, 0, 1, 0x65, 0x88});
    const auto sample = std::make_shared<const CompressedSample>(packet, std::span(*packet), 4,
                                                                 VideoFormatDescription::create(sps, pps), true);
    const auto early = std::make_shared<const CompressedSample>(packet, std::span(*packet), 4, nullptr, true);

    controller.showSampleBuffer(sample);
    controller.showSampleBuffer(early);
    controller.showSampleBuffer(nullptr);
    EXPECT_EQ(layer.enqueued, 1);

    layer.ready = false;
    controller.showSampleBuffer(sample);
    layer.ready = true;
    layer.layerStatus = DisplayLayer::Status::Failed;
    controller.showSampleBuffer(sample);
    EXPECT_EQ(layer.enqueued, 1);
    EXPECT_EQ(layer.flushes, 0);
}

TEST_F(DisplayWindowControllerTest, ClosingTellsTheDelegateAndSwitchesAnnotationOff)
{
    controller.windowWillClose();
    EXPECT_EQ(delegate.closes, 1);
    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 0}}}));

    controller.setDisplayWindowDelegate(nullptr);
    controller.windowWillClose();
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(DisplayWindowControllerTest, TheControllerIsTheLinksReverseVersionDelegateWhileItLives)
{
    TCPManager link;
    {
        DisplayWindowController registered{view, layer, {.sender = recordingSender(), .link = &link}};
        EXPECT_EQ(link.reverseVersionDelegate(), &registered);
    }
    EXPECT_EQ(link.reverseVersionDelegate(), nullptr);
}

} // namespace

#include "Session/WindowCastController.h"

#include "Session/CastingFixture.h"
#include "Session/CastingController.h"
#include "UI/FakeWindowSource.h"

#include "Media/EncoderH264/windowInfo.h"
#include "Utils/LocalizedText.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Window = WindowListSource::Window;
using Type = KeyboardMonitor::Event::Type;

class WindowCastTest : public CastingFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = CastingFixture::services();
        s.windowList = windows;
        return s;
    }

    WindowCastController& windowCast() { return controller->windowCast(); }
    windowCollectionView& picker() { return windowCast().picker(); }

    // The picker shows these windows, as after a poll and its reload.
    void showWindows(std::vector<Window> list)
    {
        windows->set(std::move(list));
        picker().querywindow();
        loop->advance(windowCollectionView::kReloadDelay);
    }

    // Connected, with two windows listed and the first one chosen.
    void chooseFirstWindow()
    {
        connect();
        showWindows({{11, "gedit", "a.txt", {0, 0, 640, 480}}, {12, "xterm", "shell", {700, 0, 300, 300}}});
        picker().didSelectItem(0);
    }

    // The window page's start: the cast announced and answered, capture running.
    void startWindowCast()
    {
        const size_t before = sim.receivedCount(kMsgCastAudioFormat);
        windowCast().clickStartWindowScreen();
        ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastAudioFormat, before + 1));
        answer(1);
    }

    std::string lastVideoStart() const
    {
        std::string found;
        for (const std::string& event : media.events())
            if (event.starts_with("video start"))
                found = event;
        return found;
    }

    std::shared_ptr<FakeWindowSource> windows = std::make_shared<FakeWindowSource>();
};

TEST_F(WindowCastTest, TheWindowPageOpensStartsThePollAndClosesWithItsToast)
{
    controller->windowCast().toWindowInfoView();
    EXPECT_TRUE(state().inWindowInfoView);
    EXPECT_TRUE(picker().findWindowTimerRunning());
    EXPECT_EQ(view.last("showPage"), "showPage Window");
    controller->windowCast().goBack();
    EXPECT_FALSE(state().inWindowInfoView);
    EXPECT_EQ(view.last("showPage"), "showPage Connected");
    EXPECT_EQ(view.calls.back(), "hideToast");
    controller->windowCast().goWindowInfo();
    EXPECT_EQ(view.last("showPage"), "showPage Window");
}

TEST_F(WindowCastTest, AChosenWindowIsCastAsTypeTwoWithItsRecord)
{
    chooseFirstWindow();
    EXPECT_EQ(state().screenType, kScreenTypeWindow);
    ASSERT_NE(state().windowInfo, nullptr);
    EXPECT_EQ(state().windowInfo->windowId(), 11);
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Start");

    startWindowCast();
    EXPECT_EQ(view.last("showWindowCastButtons"), "showWindowCastButtons 1");
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Stop");
    EXPECT_EQ(videoFormats().front(), (Format{1920, 1080, 2}));
    EXPECT_EQ(lastVideoStart(), "video start 1280x720@10 type=2 screen=7 window=11");

    // The same window again changes nothing; another one switches the running capture to it.
    media.clearEvents();
    picker().didSelectItem(0);
    EXPECT_TRUE(media.events().empty());
    picker().didSelectItem(1);
    EXPECT_EQ(lastVideoStart(), "video start 1280x720@10 type=2 screen=7 window=12");
    // The extended screen, even chosen again, restarts the capture each time.
    picker().selectExtension();
    picker().selectExtension();
    EXPECT_EQ(countEvents("video start 1280x720@10 type=1"), 2u);
    EXPECT_EQ(state().windowInfo, nullptr);

    windowCast().clickStartWindowScreen();
    EXPECT_FALSE(casting().castRunning());
    EXPECT_EQ(view.last("showWindowCastButtons"), "showWindowCastButtons 0");
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Start");
    EXPECT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
}

TEST_F(WindowCastTest, AWindowCastWithoutAWindowOrWithAClosedOneIsRefused)
{
    connect();
    windowCast().clickStartWindowScreen();
    EXPECT_EQ(view.last("toast"), "toast " + LocalizedText::text("STRING_CHOOSE_WINDOW") +
                                      " close=0 position=1 time=3.000000");

    showWindows({{11, "gedit", "a.txt", {}}});
    picker().didSelectItem(0);
    showWindows({{12, "xterm", "shell", {}}});
    windowCast().clickStartWindowScreen();
    EXPECT_EQ(view.last("toast"), "toast " + LocalizedText::text("STRING_WINDOW_CLOSED") +
                                      " close=0 position=1 time=3.000000");
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Disabled");
    EXPECT_EQ(state().windowInfo, nullptr);
    EXPECT_FALSE(casting().castRunning());
    EXPECT_EQ(sim.receivedCount(kMsgCastVideoFormat), 0u);
}

TEST_F(WindowCastTest, ALostWindowStopsTheCastOnceAndNeverStartsOne)
{
    chooseFirstWindow();
    startWindowCast();
    // The capture reports from its own queue, once per tick until it is stopped.
    controller->windowCast().stopScreenFunction();
    controller->windowCast().stopScreenFunction();
    loop->runUntilIdle();
    controller->windowCast().stopScreenFunction();
    loop->runUntilIdle();
    EXPECT_FALSE(casting().castRunning());
    EXPECT_EQ(state().windowInfo, nullptr);
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Disabled");
    EXPECT_EQ(view.callsStartingWith("toast " + LocalizedText::text("STRING_WINDOW_CLOSED") + " close=1 position=1 time=-1").size(), 1u);
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
    EXPECT_EQ(sim.receivedCount(kMsgCastAudioFormat), 1u) << "no second cast was announced";
    EXPECT_EQ(countEvents("video start"), 1u);
}

TEST_F(WindowCastTest, PauseDropsTheChoiceAndStops)
{
    chooseFirstWindow();
    startWindowCast();
    windowCast().pauseWindowScreen();
    EXPECT_FALSE(casting().castRunning());
    EXPECT_EQ(picker().selectedWindowInfo(), nullptr);
    EXPECT_EQ(state().windowInfo, nullptr);
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Disabled");
    EXPECT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
}

TEST_F(WindowCastTest, AScreenCastDropsTheWindowChoice)
{
    chooseFirstWindow();
    announce();
    EXPECT_EQ(state().windowInfo, nullptr);
    EXPECT_EQ(picker().selectedWindowInfo(), nullptr);
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Disabled");
}

TEST_F(WindowCastTest, ReturnInTheCastingCodeWindowSubmitsTheCodeOtherKeysPass)
{
    chooseFirstWindow();
    state().inputScreenProjectionCode = "stale";
    windowCast().clickStartWindowScreen();
    EXPECT_EQ(view.last("showCastingCodeWindow"), "showCastingCodeWindow");
    EXPECT_TRUE(view.keyMonitor.installed());

    view.castingCodeField = "";
    view.keyMonitor.feed(Type::KeyDown, 0);
    view.keyMonitor.feed(Type::KeyUp, WindowCastController::kReturnKeyCode);
    EXPECT_FALSE(casting().castRunning());
    view.keyMonitor.feed(Type::KeyDown, WindowCastController::kReturnKeyCode);
    EXPECT_FALSE(view.keyMonitor.installed());
    EXPECT_EQ(view.last("hideCastingCodeWindow"), "hideCastingCodeWindow");
    EXPECT_TRUE(casting().castRunning());
    EXPECT_TRUE(sim.waitForMessagesOfType(kMsgCastAudioFormat, 1));

    // Cancel stops listening too.
    windowCast().clickStartWindowScreen();
    state().inputScreenProjectionCode = "stale";
    windowCast().clickStartWindowScreen();
    EXPECT_TRUE(view.keyMonitor.installed());
    controller->casting().cancelScreenProjectionCodeButton();
    EXPECT_FALSE(view.keyMonitor.installed());
}

TEST_F(WindowCastTest, ADisconnectLeavesTheWindowPageAndItsCast)
{
    chooseFirstWindow();
    controller->windowCast().toWindowInfoView();
    startWindowCast();
    sim.closeLink();
    ASSERT_TRUE(loop->runUntil([&] { return !state().ConnectWithTv; }));
    EXPECT_FALSE(state().inWindowInfoView);
    EXPECT_FALSE(media.videoRunning());
    EXPECT_EQ(view.last("showWindowCastButtons"), "showWindowCastButtons 0");
    EXPECT_EQ(view.last("showWindowStartButton"), "showWindowStartButton Start");
}

} // namespace

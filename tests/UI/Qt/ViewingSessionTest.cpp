// Viewing the TV's screen from the connected page, against tv-sim on 127.0.0.1: the view button opens
// the TV-screen window, which draws tv-sim's stream; the stop button ends it.
#include "MainWindowFixture.h"

#include "UI/Qt/DisplayWindow.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"

#include "Utils/LocalizedText.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

using namespace std::chrono_literals;

class ViewingSessionTest : public MainWindowSessionFixture {
protected:
    static TvSim::Options streamingTv()
    {
        TvSim::Options options = SessionFixture::tvOptions();
        options.screen = {.width = 1280, .height = 720, .fps = 30};
        return options;
    }

    ViewingSessionTest() : MainWindowSessionFixture(streamingTv()) {}

    void connect()
    {
        controller->connection().inputIPTextField("127.0.0.1");
        ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
    }
    QPushButton* button(const char* name) const { return control<QPushButton>(name); }
};

TEST_F(ViewingSessionTest, TheViewButtonShowsTheTvsScreenUntilStopped)
{
    connect();
    ASSERT_TRUE(shows("mirrorBtn"));
    EXPECT_FALSE(shows("stopMirrorBtn"));
    QTest::mouseClick(button("mirrorBtn"), Qt::LeftButton);

    DisplayWindow& tvScreen = window.displayWindow();
    EXPECT_TRUE(tvScreen.isVisible());
    EXPECT_FALSE(shows("mirrorBtn"));
    EXPECT_TRUE(shows("stopMirrorBtn"));
    EXPECT_FALSE(button("screenBtn")->isEnabled()) << "no cast while viewing";
    ASSERT_TRUE(processUntil([&] {
        const auto picture = tvScreen.picture();
        return picture && picture->width == 1280 && picture->height == 720;
    }));
    EXPECT_EQ(tvScreen.size(), QSize(1280, 720));
    // The stop takes clicks once the TV's size has been known for half a second.
    EXPECT_TRUE(processUntil([&] { return button("stopMirrorBtn")->isEnabled(); }, 3s));
    saveScreenshot(tvScreen, "tv-screen-window");
    screenshot("connected-viewing");

    QTest::mouseClick(button("stopMirrorBtn"), Qt::LeftButton);
    EXPECT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStop, 1));
    EXPECT_FALSE(tvScreen.isVisible());
    EXPECT_TRUE(shows("mirrorBtn"));
    EXPECT_FALSE(button("mirrorBtn")->isChecked());
    EXPECT_FALSE(button("mirrorBtn")->isEnabled()) << "deaf for half a second after the stop";
    EXPECT_TRUE(button("screenBtn")->isEnabled());
    EXPECT_TRUE(processUntil([&] { return button("mirrorBtn")->isEnabled(); }, 3s));
    EXPECT_TRUE(processUntil([&] { return tvScreen.picture() == nullptr; })) << "the last picture is taken away";
}

TEST_F(ViewingSessionTest, TheKeysThatStartViewingStopIt)
{
    connect();
    button("mirrorBtn")->setFocus();
    QTest::keyClick(window.focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStart, 1));
    EXPECT_EQ(window.focusWidget(), &window) << "a space meanwhile reaches no control (the settings menu at the top)";
    // The stop takes the keys once it takes clicks.
    ASSERT_TRUE(processUntil([&] { return window.focusWidget() == button("stopMirrorBtn"); }, 3s));
    QTest::keyClick(window.focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(processUntil([&] { return tv.receivedCount(kMsgTvScreenStop) == 1; }));
    // And the view button once it is awake again.
    EXPECT_TRUE(processUntil([&] { return window.focusWidget() == button("mirrorBtn"); }, 3s));
}

TEST_F(ViewingSessionTest, FiveHundredInvitationsDuringACastGiveOneAlert)
{
    connect();
    // A cast runs: each invitation is refused with the alert that says so.
    controller->casting().clickScreen(true);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgCastAudioFormat, 1));
    ASSERT_TRUE(tv.send(kMsgVideoQuality, TvMessages::videoQuality(0, 0, 1, 0)));
    ASSERT_TRUE(processUntil([&] { return controller->casting().castRunning(); }));
    for (int i = 0; i < 500; ++i)
        ASSERT_TRUE(tv.send(kMsgReverseInvite));
    const auto refusals = [&] {
        int count = 0;
        for (const auto* alert : window.findChildren<QMessageBox*>("alert"))
            count += alert->informativeText() == QString::fromStdString(LocalizedText::text("STRING_STOP_SCREEN"));
        return count;
    };
    ASSERT_TRUE(processUntil([&] { return refusals() > 0; }, 5s));
    // The link hands each invitation on a second after it came: by now every one has been refused.
    processUntil([] { return false; }, 1500ms);
    EXPECT_EQ(refusals(), 1);
    controller->casting().clickStopScreenBtn();
}

TEST_F(ViewingSessionTest, ClosingTheTvScreenWindowStopsViewing)
{
    connect();
    QTest::mouseClick(button("mirrorBtn"), Qt::LeftButton);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgTvScreenStart, 1));
    window.displayWindow().close();
    EXPECT_TRUE(processUntil([&] { return tv.receivedCount(kMsgTvScreenStop) == 1; }));
    EXPECT_TRUE(processUntil([&] { return shows("mirrorBtn") && !button("mirrorBtn")->isChecked(); }));
}

} // namespace

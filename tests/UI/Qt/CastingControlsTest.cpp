#include "MainWindowFixture.h"

#include "Utils/LocalizedText.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <atomic>

namespace {

using namespace std::chrono_literals;

// The connected page's cast controls and the casting-code window, shown by the main window's calls.
class CastingControlsTest : public MainWindowFixture {
protected:
    QPushButton* screenBtn() const { return control<QPushButton>("screenBtn"); }
    QPushButton* stopScreenBtn() const { return control<QPushButton>("stopScreenBtn"); }
    QDialog* codeWindow() const { return control<QDialog>("screenProjectionCodeWindow"); }
};

TEST_F(CastingControlsTest, TheScreenButtonGivesWayToStopWhileACastRuns)
{
    window.showTvName("Living Room");
    window.showTvAddress("192.168.1.20");
    window.showPage(MainWindowPage::Connected);
    window.showSessionControlsAtRest();
    EXPECT_TRUE(shows("screenBtn"));
    EXPECT_TRUE(screenBtn()->isEnabled());
    EXPECT_FALSE(screenBtn()->isChecked());
    EXPECT_FALSE(shows("stopScreenBtn"));
    EXPECT_EQ(control<QLabel>("screenText")->text().toStdString(), LocalizedText::text("STRING_SCREEN_TEXT"));
    EXPECT_EQ(window.focusWidget(), screenBtn()) << "the connected page's first control takes the keys";
    screenshot("connected-idle");
    control<QPushButton>("disConnectBtn")->setFocus();
    window.showPage(MainWindowPage::Connected);
    EXPECT_EQ(window.focusWidget(), control<QWidget>("disConnectBtn")) << "each discovery tick's page rule leaves the keys";
    screenBtn()->setFocus();

    screenBtn()->setChecked(true);
    window.showCastingState(true);
    EXPECT_FALSE(shows("screenBtn"));
    EXPECT_TRUE(shows("stopScreenBtn"));
    EXPECT_EQ(window.focusWidget(), stopScreenBtn()) << "the keys follow the button that took its place";
    EXPECT_FALSE(control<QPushButton>("mirrorBtn")->isEnabled()) << "no viewing while a cast runs";
    screenshot("connected-casting");

    window.showIdleState(kScreenTypeWholeScreen);
    EXPECT_TRUE(shows("screenBtn"));
    EXPECT_FALSE(screenBtn()->isChecked());
    EXPECT_EQ(screenBtn()->text().toStdString(), LocalizedText::text("STRING_START"));
    EXPECT_FALSE(shows("stopScreenBtn"));
    EXPECT_EQ(window.focusWidget(), screenBtn());
    EXPECT_TRUE(control<QPushButton>("mirrorBtn")->isEnabled());
}

TEST_F(CastingControlsTest, TheCastingCodeWindowShowsItsFieldAndButtons)
{
    EXPECT_FALSE(codeWindow()->isVisible());
    window.showCastingCodeWindow();
    ASSERT_TRUE(codeWindow()->isVisible());
    EXPECT_EQ(codeWindow()->focusWidget(), control<QLineEdit>("inputScreenProjectionCodeTextField"));
    EXPECT_EQ(control<QLineEdit>("inputScreenProjectionCodeTextField")->placeholderText().toStdString(),
              LocalizedText::text("STRING_SCREEN_CODE"));
    EXPECT_EQ(control<QPushButton>("screenCodeOk")->text().toStdString(), LocalizedText::text("STRING_OK"));
    EXPECT_EQ(control<QPushButton>("screenCodeCancel")->text().toStdString(), LocalizedText::text("STRING_CANCEL"));
    window.setCastingCodeText("K7Q2ZD");
    EXPECT_EQ(control<QLineEdit>("inputScreenProjectionCodeTextField")->text(), "K7Q2ZD");
    saveScreenshot(*codeWindow(), "casting-code-window");

    window.hideCastingCodeWindow();
    EXPECT_FALSE(codeWindow()->isVisible());
}

// The buttons and the window in front of the session controller and a TV that asks for a code and
// answers casts at level 1.
class CastingControlsSessionTest : public MainWindowSessionFixture {
protected:
    static TvSim::Options options()
    {
        TvSim::Options options = SessionFixture::tvOptions();
        options.castingCode = "K7Q2ZD";
        options.qualityLevel = 1;
        return options;
    }

    CastingControlsSessionTest() : MainWindowSessionFixture(options())
    {
        tv.setMessageObserver([this](const ReceivedMessage& message) {
            if (message.type == kMsgCastStop)
                ++castStops;
        });
    }

    void connect()
    {
        window.showPage(MainWindowPage::NoDevice);
        auto* field = control<QLineEdit>("inputIPTextField");
        QTest::keyClicks(field, "127.0.0.1");
        QTest::keyClick(field, Qt::Key_Return);
        ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
        ASSERT_TRUE(processUntil([&] { return controller->state().screenProjectionCode.has_value(); }));
    }

    QPushButton* screenBtn() const { return control<QPushButton>("screenBtn"); }
    QDialog* codeWindow() const { return control<QDialog>("screenProjectionCodeWindow"); }
    QLineEdit* codeField() const { return control<QLineEdit>("inputScreenProjectionCodeTextField"); }
    bool capturing() const { return media.videoRunning(); }

    std::atomic<int> castStops{0};
};

TEST_F(CastingControlsSessionTest, TheRightCodeStartsTheCastAndStopEndsIt)
{
    connect();
    QTest::mouseClick(screenBtn(), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return codeWindow()->isVisible(); })) << "the TV asks for its code";
    EXPECT_FALSE(capturing());
    QTest::keyClicks(codeField(), "K7Q2ZD");
    // Through the window, as the desktop delivers keys, so the key monitor sees it.
    QTest::keyClick(codeWindow()->windowHandle(), Qt::Key_Return);
    EXPECT_FALSE(codeWindow()->isVisible());
    ASSERT_TRUE(processUntil([&] { return capturing(); })) << "the TV's answer starts the capture";
    EXPECT_TRUE(shows("stopScreenBtn"));
    EXPECT_FALSE(shows("screenBtn"));

    QTest::mouseClick(control<QPushButton>("stopScreenBtn"), Qt::LeftButton);
    EXPECT_FALSE(capturing());
    EXPECT_TRUE(processUntil([&] { return castStops.load() == 1; }));
    EXPECT_TRUE(shows("screenBtn"));
    EXPECT_FALSE(screenBtn()->isChecked());

    QTest::mouseClick(screenBtn(), Qt::LeftButton);
    EXPECT_TRUE(processUntil([&] { return capturing(); })) << "the code is known now: no window";
    EXPECT_FALSE(codeWindow()->isVisible());

    // Closing the window during the cast asks first: keeping the cast keeps the window.
    EXPECT_FALSE(window.close());
    auto* ask = control<QDialog>("quitWhileCastingWindow");
    EXPECT_TRUE(ask->isVisible());
    saveScreenshot(*ask, "quit-while-casting");
    control<QPushButton>("highlightButton", ask)->click();
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(capturing());
    EXPECT_FALSE(window.close());
    control<QPushButton>("normalButton", ask)->click();
    EXPECT_FALSE(window.isVisible()) << "confirmed, the window closes";
}

TEST_F(CastingControlsSessionTest, CancelAndAWrongCodeLeaveTheScreenButtonReadyToAskAgain)
{
    connect();
    QTest::mouseClick(screenBtn(), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return codeWindow()->isVisible(); }));
    QTest::keyClicks(codeField(), "WRONG1");
    QTest::mouseClick(control<QPushButton>("screenCodeCancel"), Qt::LeftButton);
    EXPECT_FALSE(codeWindow()->isVisible());
    EXPECT_EQ(codeField()->text(), "") << "Cancel empties the field";
    EXPECT_FALSE(screenBtn()->isChecked());

    // The next press asks again; before, it turned the button off and sent a stop for no cast.
    QTest::mouseClick(screenBtn(), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return codeWindow()->isVisible(); }));
    EXPECT_EQ(castStops.load(), 0);

    QTest::keyClicks(codeField(), "WRONG1");
    QTest::mouseClick(control<QPushButton>("screenCodeOk"), Qt::LeftButton);
    EXPECT_EQ(window.findChild<QMessageBox*>("alert"), nullptr) << "no alert in front of the window";
    EXPECT_TRUE(codeWindow()->isVisible()) << "a wrong code keeps the window open for another try";
    auto* error = control<QLabel>("screenCodeError");
    EXPECT_TRUE(error->isVisible()) << "the error stands under the field";
    EXPECT_EQ(error->text().toStdString(), LocalizedText::text("STRING_INPUT_ERROR"));
    EXPECT_EQ(codeField()->text(), "WRONG1") << "the field keeps a wrong code";
    EXPECT_FALSE(capturing());

    QTest::keyClick(codeWindow(), Qt::Key_Escape);
    EXPECT_FALSE(codeWindow()->isVisible()) << "Escape is the window's Cancel";
    EXPECT_EQ(codeField()->text(), "");
    EXPECT_FALSE(screenBtn()->isChecked());
    EXPECT_EQ(castStops.load(), 0);

    QTest::mouseClick(screenBtn(), Qt::LeftButton);
    ASSERT_TRUE(processUntil([&] { return codeWindow()->isVisible(); }));
    EXPECT_FALSE(error->isVisible()) << "a new try starts without the old error";
    QTest::keyClicks(codeField(), "k7q2zd");
    QTest::mouseClick(control<QPushButton>("screenCodeOk"), Qt::LeftButton);
    EXPECT_TRUE(processUntil([&] { return capturing(); })) << "the code's letters in either case";
}

} // namespace

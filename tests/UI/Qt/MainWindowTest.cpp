#include "MainWindowFixture.h"

#include "Socket/LocalSystemInfo.h"
#include "Utils/LocalizedText.h"
#include "Utils/PUtils.h"
#include "UI/Qt/CheckDeviceView.h"
#include "UI/Qt/CursorBlinkPause.h"
#include "UI/Qt/WindowPageView.h"
#include "UI/Qt/WindowPicker.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <iostream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

using MainWindowTest = MainWindowFixture;

TEST_F(MainWindowTest, EachPageShowsWithItsControls)
{
    EXPECT_EQ(window.currentPage(), MainWindowPage::NoDevice);
    EXPECT_TRUE(shows("inputIPTextField")) << "an address can be typed while no TV is found";
    EXPECT_TRUE(shows("arrowButton"));
    EXPECT_EQ(window.focusWidget(), control<QWidget>("inputIPTextField")) << "the field takes the first keys";
    screenshot("no-device");

    window.showPage(MainWindowPage::DeviceList);
    window.showDevices({TvDeviceInfo("192.168.1.20", "Living Room", "", "AB12CD", 0),
                        TvDeviceInfo("192.168.1.21", "Office", "", "", 0)});
    window.showConnectInfo("Not connected");
    window.showInputError("No TV answers at this address");
    EXPECT_EQ(window.currentPage(), MainWindowPage::DeviceList);
    EXPECT_TRUE(shows("inputIPTextField"));
    EXPECT_TRUE(shows("connectInfoTextField"));
    EXPECT_TRUE(shows("inputErrorTip"));
    EXPECT_TRUE(shows("inputErrorImage"));
    EXPECT_EQ(window.checkDeviceView()->numberOfItems(), 2);
    screenshot("device-list");
    window.showInputError(std::nullopt);
    EXPECT_FALSE(shows("inputErrorTip"));
    EXPECT_FALSE(shows("inputErrorImage"));

    window.showTvName("Living Room");
    window.showTvAddress("192.168.1.20");
    window.showPage(MainWindowPage::Connected);
    EXPECT_EQ(window.currentPage(), MainWindowPage::Connected);
    EXPECT_EQ(control<QLabel>("deviceName")->text(), "Living Room");
    EXPECT_EQ(control<QLabel>("deviceIP")->text(), "192.168.1.20");
    EXPECT_FALSE(shows("connectInfoTextField")) << "the connection text goes with the device list";
    EXPECT_FALSE(shows("inputIPTextField"));
    EXPECT_FALSE(shows("arrowButton"));
    screenshot("connected");

    window.showPage(MainWindowPage::Window);
    EXPECT_EQ(window.currentPage(), MainWindowPage::Window);
    screenshot("window");
    window.hidePage(MainWindowPage::Connected);
    EXPECT_EQ(window.currentPage(), MainWindowPage::Window) << "another page is left alone";
    window.hidePage(MainWindowPage::Window);
    EXPECT_EQ(window.currentPage(), std::nullopt);
}

// Tab walks each page as it reads, row by row from the settings at the top, and round again.
TEST_F(MainWindowTest, TabFollowsThePageAsItReads)
{
    const auto walk = [&](int steps, Qt::Key key) {
        std::vector<std::string> names;
        for (int step = 0; step < steps; ++step) {
            QTest::keyClick(window.focusWidget(), key);
            names.push_back(window.focusWidget()->objectName().toStdString());
        }
        return names;
    };
    EXPECT_EQ(walk(3, Qt::Key_Tab), (std::vector<std::string>{"arrowButton", "helpButton", "inputIPTextField"}));

    window.showTvName("Living Room");
    window.showPage(MainWindowPage::Connected);
    window.showSessionControlsAtRest();
    ASSERT_EQ(window.focusWidget(), control<QWidget>("screenBtn"));
    EXPECT_EQ(walk(6, Qt::Key_Tab), (std::vector<std::string>{"windowBtn", "mirrorBtn", "disConnectBtn", "fileBtn",
                                                                "helpButton", "screenBtn"}));
    EXPECT_EQ(walk(2, Qt::Key_Backtab), (std::vector<std::string>{"helpButton", "fileBtn"}));
}

TEST_F(MainWindowTest, ToastsSitWhereTheirPositionSaysAndGoAfterTheirTime)
{
    window.showToastTip("Connection failed", false, 1, 0.05f);
    ToastView* centred = window.toastView();
    ASSERT_NE(centred, nullptr);
    EXPECT_EQ(centred->height(), 56);
    EXPECT_EQ(centred->x(), (window.width() - centred->width()) / 2);
    EXPECT_EQ(centred->y(), (window.height() - 56) / 2);
    EXPECT_EQ(centred->closeButton(), nullptr);
    screenshot("toast");
    EXPECT_TRUE(processUntil([&] { return window.toastView() == nullptr; }, 2s)) << "gone after 0.05 s";

    window.showToastTip("Top", true, 0, -1);
    ToastView* top = window.toastView();
    EXPECT_EQ(top->y(), window.height() - 480 - 56) << "480 points above the bottom";
    window.showToastTip("Bottom", false, 2, 0);
    EXPECT_EQ(window.toastView()->y(), window.height() - 80 - 56);
    processFor(50ms);
    EXPECT_TRUE(top->isVisible()) << "a toast without a time stays after a later one";
    QTest::mouseClick(top->closeButton(), Qt::LeftButton);
    EXPECT_TRUE(processUntil([&] { return window.findChildren<ToastView*>().size() == 1; }, 2s));
}

TEST_F(MainWindowTest, AToastFitsItsMessage)
{
    const ToastView empty("", false);
    EXPECT_EQ(empty.size(), QSize(40, 56));
    const ToastView emptyWithClose("", true);
    EXPECT_EQ(emptyWithClose.size(), QSize(80, 56));
    const ToastView text("The TV has received the files", true);
    EXPECT_GT(text.width(), 80);
    EXPECT_EQ(text.closeButton()->geometry(), QRect(text.width() - 40, 20, 19, 13));
    // The toasts of a link's end say what happened and what to do, and still fit the window.
    for (const char* key : {"STRING_LINK_LOST", "STRING_LINK_TV_GONE", "STRING_LINK_NETWORK_GONE"}) {
        if (window.toastView())
            window.toastView()->closeToast();
        window.showToastTip(LocalizedText::text(key), true, 1, -1);
        EXPECT_LE(window.toastView()->width(), window.width()) << key;
    }
    screenshot("toast-network-gone");
}

TEST_F(MainWindowTest, AnAlertReportsItsDismissal)
{
    bool dismissed = false;
    window.showAlert("Tip", "The casting code is wrong", [&] { dismissed = true; });
    auto* alert = window.findChild<QMessageBox*>("alert");
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), "Tip");
    EXPECT_EQ(alert->informativeText(), "The casting code is wrong");
    screenshot("alert");
    alert->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(processUntil([&] { return dismissed; }));

    // Closed by the session's end, an alert goes without its dismissal.
    dismissed = false;
    window.showAlert("Tip", "The receiver is locked", [&] { dismissed = true; });
    ASSERT_TRUE(processUntil([&] { return window.findChild<QMessageBox*>("alert") != nullptr; }));
    window.closeAlerts();
    processFor(100ms);
    for (const QMessageBox* open : window.findChildren<QMessageBox*>("alert"))
        EXPECT_FALSE(open->isVisible());
    EXPECT_FALSE(dismissed);
}

TEST_F(MainWindowTest, FiveHundredRepeatsOfAnAlertShowOneAndAreAllToldOfItsDismissal)
{
    int dismissals = 0;
    for (int i = 0; i < 500; ++i)
        window.showAlert("Tip", "The TV refuses", [&] { ++dismissals; });
    window.showAlert("Tip", "Another kind", {});
    const auto alerts = window.findChildren<QMessageBox*>("alert");
    ASSERT_EQ(alerts.size(), 2);
    QMessageBox* refusal = alerts[0]->informativeText() == "The TV refuses" ? alerts[0] : alerts[1];
    refusal->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(processUntil([&] { return dismissals == 500; }));
    // Dismissed, the kind shows again.
    window.showAlert("Tip", "The TV refuses", {});
    EXPECT_TRUE(processUntil([&] { return window.findChildren<QMessageBox*>("alert").size() == 2; }));
}

// Typing the address connects, the disconnect button ends the link.
using MainWindowSessionTest = MainWindowSessionFixture;

TEST_F(MainWindowSessionTest, TheAddressFieldConnectsAndTheButtonDisconnects)
{
    // No TV was heard: the address is typed on the device list's field.
    window.showPage(MainWindowPage::DeviceList);
    auto* field = control<QLineEdit>("inputIPTextField");
    QTest::keyClicks(field, "127.0.0.1");
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
    EXPECT_EQ(control<QLabel>("deviceName")->text(), "Living Room");
    EXPECT_EQ(control<QLabel>("deviceIP")->text(), "127.0.0.1");
    screenshot("connected-to-tv-sim");

    control<QPushButton>("disConnectBtn")->click();
    EXPECT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::NoDevice; }));
}

TEST_F(MainWindowSessionTest, TheArrowButtonSubmitsTheFieldAndAFailureShowsItsTip)
{
    window.showPage(MainWindowPage::DeviceList);
    control<QLineEdit>("inputIPTextField")->setText("1.2.3");
    control<QToolButton>("arrowButton")->click();
    EXPECT_TRUE(processUntil([&] { return shows("inputErrorTip"); }));
    EXPECT_FALSE(control<QLabel>("inputErrorTip")->text().isEmpty());
}

// While an attempt runs the field takes no keys, the arrow no click, and the tip says how to cancel;
// a failure's tip afterwards is red again.
TEST_F(MainWindowTest, AnAttemptShowsInTheFieldAndItsTip)
{
    auto* field = control<QLineEdit>("inputIPTextField");
    auto* tip = control<QLabel>("inputErrorTip");
    window.showConnecting(true);
    EXPECT_TRUE(field->isReadOnly());
    EXPECT_FALSE(control<QToolButton>("arrowButton")->isEnabled());
    EXPECT_TRUE(shows("inputErrorTip"));
    EXPECT_EQ(tip->text().toStdString(), LocalizedText::text("STRING_CONNECTING"));
    screenshot("connecting");
    window.showConnecting(false);
    EXPECT_FALSE(field->isReadOnly());
    EXPECT_TRUE(control<QToolButton>("arrowButton")->isEnabled());
    EXPECT_FALSE(shows("inputErrorTip"));
    window.showInputError("No TV answers at this address");
    EXPECT_TRUE(tip->styleSheet().contains("251"));
}

TEST_F(MainWindowSessionTest, EscapeInTheWindowCancelsAConnectUnderWay)
{
    tv.setAnswerServerInfo(false);
    window.showPage(MainWindowPage::DeviceList);
    auto* field = control<QLineEdit>("inputIPTextField");
    field->setText("127.0.0.1");
    control<QToolButton>("arrowButton")->click();
    EXPECT_TRUE(field->isReadOnly());
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(field->isReadOnly());
    EXPECT_TRUE(control<QToolButton>("arrowButton")->isEnabled());
    EXPECT_FALSE(controller->state().tvDeviceIp);
}

TEST_F(MainWindowTest, TheHelpButtonOpensTheSettingsWhichGrowWhileConnected)
{
    control<QToolButton>("helpButton")->click();
    auto* popover = control<QWidget>("helpPopover");
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(popover->size(), QSize(190, 150));
    window.showHelpForConnection(true);
    EXPECT_EQ(popover->size(), QSize(190, 200));
    window.showQualityEntry(false);
    EXPECT_EQ(popover->size(), QSize(190, 150));
}

TEST_F(MainWindowSessionTest, TheSettingsSwitchTheSoundAndRenameThisComputer)
{
    window.showPage(MainWindowPage::DeviceList);
    control<QLineEdit>("inputIPTextField")->setText("127.0.0.1");
    control<QToolButton>("arrowButton")->click();
    ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));

    control<QToolButton>("helpButton")->click();
    control<QPushButton>("soundSwitchTextButton")->click();
    EXPECT_FALSE(controller->state().audioSendFlag.load());

    control<QPushButton>("deviceNameTextButton")->click();
    auto* nameWindow = control<QWidget>("deviceNameWindow");
    ASSERT_TRUE(nameWindow->isVisible());
    auto* field = control<QLineEdit>("deviceNameTextField");
    EXPECT_EQ(field->placeholderText().toStdString(), LocalSystemInfo::loginName());
    EXPECT_EQ(nameWindow->focusWidget(), field) << "the name is typed at once";
    QTest::keyClicks(field, "Meeting Room");
    saveScreenshot(*nameWindow, "device-name-window");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_TRUE(processUntil([&] {
        const auto info = tv.clientInfo();
        return info && info->deviceName == "Meeting Room";
    }));
    EXPECT_TRUE(nameWindow->isVisible()) << "the window stays after a rename";

    pressKey(*nameWindow, Qt::Key_Escape);
    EXPECT_FALSE(nameWindow->isVisible()) << "Escape is the window's Cancel";
}

TEST_F(MainWindowSessionTest, TheRelayTipShowsItsTextUntilItsButtonIsClicked)
{
    auto* tip = control<QWidget>("roziTipWindow");
    EXPECT_FALSE(window.roziTipWindowVisible());
    window.showRoziTipWindow("The TV has no camera");
    ASSERT_TRUE(window.roziTipWindowVisible());
    EXPECT_EQ(control<QLabel>("errorTipText")->text(), "The TV has no camera");
    EXPECT_EQ(control<QPushButton>("roziKnowBtn")->text().toStdString(), LocalizedText::text("STRING_ROZI_KNOW"));
    saveScreenshot(*tip, "rozi-tip-window");
    control<QPushButton>("roziKnowBtn")->click();
    EXPECT_FALSE(tip->isVisible());
    window.showRoziTipWindow("The TV has no camera");
    pressKey(*tip, Qt::Key_Escape);
    EXPECT_FALSE(tip->isVisible());
}

// Standard output, where the log goes, captured while this lives. gtest reports failures there too:
// after a failure all of it is shown on standard error.
class CapturedStdout {
public:
    CapturedStdout() { testing::internal::CaptureStdout(); }
    ~CapturedStdout()
    {
        if (!taken_)
            take();
    }
    std::string take()
    {
        taken_ = true;
        std::string out = testing::internal::GetCapturedStdout();
        if (testing::Test::HasFailure())
            std::cerr << out;
        return out;
    }

private:
    bool taken_ = false;
};

// A TV that asks for a casting code; the log is read as well as the windows.
class MainWindowTextsTest : public MainWindowSessionFixture {
protected:
    static TvSim::Options options()
    {
        TvSim::Options options = SessionFixture::tvOptions();
        options.castingCode = "K7Q2ZD";
        return options;
    }
    MainWindowTextsTest() : MainWindowSessionFixture(options()) {}

    void typeAddress()
    {
        auto* field = control<QLineEdit>("inputIPTextField");
        field->clear();
        QTest::keyClicks(field, "127.0.0.1");
        QTest::keyClick(field, Qt::Key_Return);
    }
};

TEST_F(MainWindowTextsTest, EveryTextAPersonReadsIsLatin1AndFromTheTable)
{
    CapturedStdout log;
    const std::vector<QString> theTv{"Living Room", "127.0.0.1"};
    expectTextsFromTheTable(window);
    typeAddress();
    ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::Connected; }));
    ASSERT_TRUE(processUntil([&] { return controller->state().screenProjectionCode.has_value(); }));
    expectTextsFromTheTable(window, theTv);

    control<QToolButton>("helpButton")->click();
    // The log switch also tells where the log file is.
    expectTextsFromTheTable(*control<QWidget>("helpPopover"),
                            {QString::fromStdString(PUtils::logFilePath().value_or("").string())});
    control<QPushButton>("qualityTextButton")->click();
    auto* quality = control<QWidget>("QualityWindowController");
    ASSERT_TRUE(quality->isVisible());
    expectTextsFromTheTable(*quality);
    pressKey(*quality, Qt::Key_Escape);
    EXPECT_FALSE(quality->isVisible());
    control<QToolButton>("helpButton")->click();
    control<QPushButton>("deviceNameTextButton")->click();
    auto* name = control<QWidget>("deviceNameWindow");
    expectTextsFromTheTable(*name, {QString::fromStdString(LocalSystemInfo::loginName())});
    pressKey(*name, Qt::Key_Escape);
    EXPECT_FALSE(name->isVisible());

    control<QPushButton>("fileBtn")->click();
    auto* files = control<QWidget>("FileCollectionView");
    ASSERT_TRUE(files->isVisible());
    expectTextsFromTheTable(*files);
    pressKey(*files, Qt::Key_Escape);
    EXPECT_FALSE(files->isVisible()) << "Escape closes the file window";

    windows->set({{11, "gedit", "a.txt", {}}, {12, "", "Untitled report", {}}});
    control<QPushButton>("windowBtn")->click();
    ASSERT_TRUE(processUntil([&] { return window.windowPage()->picker().items().size() == 2; }));
    expectTextsFromTheTable(window, {"gedit", "Untitled report"});
    control<QPushButton>("backBtn")->click();

    control<QPushButton>("screenBtn")->click();
    auto* code = control<QWidget>("screenProjectionCodeWindow");
    ASSERT_TRUE(processUntil([&] { return code->isVisible(); }));
    expectTextsFromTheTable(*code);
    pressKey(*code, Qt::Key_Escape);
    EXPECT_FALSE(code->isVisible());

    // A connect that fails: its tip and its toast.
    control<QPushButton>("disConnectBtn")->click();
    ASSERT_TRUE(processUntil([&] { return window.currentPage() == MainWindowPage::NoDevice; }));
    tv.stop();
    typeAddress();
    ASSERT_TRUE(processUntil([&] { return shows("inputErrorTip") && window.toastView(); }));
    expectTextsFromTheTable(window);

    const std::string logged = log.take();
    EXPECT_NE(logged.find(LocalizedText::format("STRING_LOG_SCREEN_CODE", {"K7Q2ZD"})), std::string::npos);
    EXPECT_NE(logged.find(LocalizedText::format("STRING_LOG_CONNECT_FAIL", {"127.0.0.1", "1"})), std::string::npos);
    std::istringstream lines(logged);
    for (std::string line; std::getline(lines, line);) {
        // What follows the line's source and number.
        const size_t text = line.find("]: ");
        EXPECT_TRUE(isLatin1(QString::fromStdString(line.substr(text == std::string::npos ? 0 : text + 3)))) << line;
    }
}

// A window left alone stops its text cursor blinking (which would wake the program twice a second);
// a key starts it again, and the desktop's setting is back once the pause goes.
TEST_F(MainWindowTest, TheTextCursorStopsBlinkingWhileNothingIsTypedAndBlinksAgainAtAKey)
{
    const int desktop = QApplication::cursorFlashTime();
    ASSERT_GT(desktop, 0);
    auto* field = control<QLineEdit>("inputIPTextField");
    {
        const CursorBlinkPause pause(50ms);
        EXPECT_TRUE(processUntil([] { return QApplication::cursorFlashTime() == 0; }));
        QTest::keyClick(field, Qt::Key_1);
        EXPECT_EQ(QApplication::cursorFlashTime(), desktop);
        EXPECT_TRUE(processUntil([] { return QApplication::cursorFlashTime() == 0; }));
    }
    EXPECT_EQ(QApplication::cursorFlashTime(), desktop);
}

} // namespace

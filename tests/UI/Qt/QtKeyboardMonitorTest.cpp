#include "QtTestSupport.h"

#include "Socket/MessageType.h"
#include "UI/KeycodeConverter.h"
#include "UI/Qt/QtKeyboardMonitor.h"
#include "Utils/Shell.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QTest>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Event = KeyboardMonitor::Event;

class QtKeyboardMonitorTest : public QtLoopFixture {
protected:
    QtKeyboardMonitorTest()
    {
        field.show();
        field.activateWindow();
        field.setFocus();
        processFor(std::chrono::milliseconds(20));
    }

    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(field.windowHandle(), key, modifiers);
    }

    QLineEdit field;
    QtKeyboardMonitor monitor;
    std::vector<Event> events;
};

TEST_F(QtKeyboardMonitorTest, KeysOfTheWindowsArriveInTheMacsTermsAndStillReachTheirWidget)
{
    monitor.install([this](const Event& event) { events.push_back(event); });
    press(Qt::Key_A);
    press(Qt::Key_Left);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].type, Event::Type::KeyDown);
    EXPECT_EQ(events[0].keyCode, 0x00);
    EXPECT_EQ(events[1].type, Event::Type::KeyUp);
    EXPECT_EQ(events[2].keyCode, 0x7B);
    EXPECT_EQ(field.text(), "a");
}

TEST_F(QtKeyboardMonitorTest, AModifierKeyIsAFlagsChangeWithTheFlagsAfterIt)
{
    monitor.install([this](const Event& event) { events.push_back(event); });
    QTest::keyPress(field.windowHandle(), Qt::Key_Shift);
    QTest::keyRelease(field.windowHandle(), Qt::Key_Shift);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].type, Event::Type::FlagsChanged);
    EXPECT_EQ(events[0].keyCode, 0x38);
    EXPECT_EQ(events[0].modifierFlags, Event::kShiftFlag);
    EXPECT_EQ(events[1].modifierFlags, 0u);
}

// Caps Lock, pressed and released twice, as the TV hears it: on sends a key-down then a key-up, off
// sends two key-ups (the second report of each toggle follows the shift key, which is up).
const std::vector<std::string> kCapsLockOnThenOff{"down 57", "up 57", "up 57", "up 57"};

// The key messages a converter listening on the monitor sends while `toggle` runs twice; `toggle` is
// given what was sent so far.
std::vector<std::string> capsLockMessages(QtKeyboardMonitor& monitor,
                                          const std::function<void(const std::vector<std::string>& sent)>& toggle)
{
    std::vector<std::string> sent;
    KeycodeConverter converter([&](int type, const uint8_t* data, int length) {
        uint32_t usage = 0;
        if (length == 4)
            std::memcpy(&usage, data, 4);
        sent.push_back((type == kMsgKeyDown ? "down " : "up ") + std::to_string(usage));
        return true;
    });
    converter.setKeyboardMonitor(&monitor);
    converter.startKeyboardListen();
    toggle(sent);
    toggle(sent);
    converter.stopKeyboardListen();
    return sent;
}

TEST_F(QtKeyboardMonitorTest, CapsLockReportsOncePerToggle)
{
    const auto sent = capsLockMessages(monitor, [&](const auto&) { QTest::keyClick(field.windowHandle(), Qt::Key_CapsLock); });
    EXPECT_EQ(sent, kCapsLockOnThenOff);
}

// A real key of the X server, from xdotool: the lock's state comes from the X event.
TEST_F(QtKeyboardMonitorTest, OnXCapsLockFollowsTheServersLock)
{
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    const auto present = Shell::run({"xdotool", "version"});
    if (!present || present->exitCode != 0)
        GTEST_SKIP() << "xdotool is not installed";
    ASSERT_TRUE(QTest::qWaitForWindowActive(&field));
    const auto sent = capsLockMessages(monitor, [&](const std::vector<std::string>& soFar) {
        const size_t before = soFar.size();
        const auto pressed = Shell::run({"xdotool", "key", "Caps_Lock"});
        ASSERT_TRUE(pressed && pressed->exitCode == 0);
        EXPECT_TRUE(processUntil([&] { return soFar.size() >= before + 2; }));
        // The release, which reports nothing, comes too before the next press.
        processFor(std::chrono::milliseconds(50));
    });
    EXPECT_EQ(sent, kCapsLockOnThenOff);
}

TEST_F(QtKeyboardMonitorTest, UnknownKeysAndRemovedHandlersReportNothing)
{
    monitor.install([this](const Event& event) { events.push_back(event); });
    press(Qt::Key_MediaPlay);
    EXPECT_TRUE(events.empty());
    monitor.remove();
    press(Qt::Key_B);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(field.text(), "b");
}

} // namespace

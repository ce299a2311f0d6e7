#include "QtTestSupport.h"

#include "UI/Qt/QtKeyboardMonitor.h"

#include <QLineEdit>
#include <QTest>

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

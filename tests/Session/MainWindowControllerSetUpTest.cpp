#include "Session/ConnectionController.h"
#include "Session/SessionTestSupport.h"

#include <gtest/gtest.h>

namespace {

class MainWindowControllerSetUpTest : public SessionFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = SessionFixture::services();
        s.routeAudioToLoopback = [this] { ++audioRoutings; };
        return s;
    }

    int audioRoutings = 0;
};

// Switching at launch would silence the computer for the whole run: only a cast's sound switches.
TEST_F(MainWindowControllerSetUpTest, TheUsersSoundDevicesAreLeftAloneWithoutACast)
{
    controller = std::make_unique<MainWindowController>(view, services());
    controller->windowDidLoad();
    EXPECT_EQ(audioRoutings, 0);
}

// The page rule's guarded case: no TV and no link give the no-device page even while the window
// picker is on.
TEST_F(MainWindowControllerSetUpTest, TheWindowPickerGivesWayToTheNoDevicePageWithoutATv)
{
    makeController();
    connectTyped();
    state().inWindowInfoView = true;
    controller->connection().applyPageRule();
    EXPECT_EQ(view.last("showPage"), "showPage Window");
    tv.closeLink();
    ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
    EXPECT_EQ(view.last("showPage"), "showPage NoDevice");
}

} // namespace

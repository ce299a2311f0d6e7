#include "Session/ConnectionController.h"
#include "Session/MainWindowPage.h"
#include "Session/SessionTestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(MainWindowPage, ThePageRule)
{
    struct Case {
        size_t found;
        bool connected;
        bool inWindowInfoView;
        MainWindowPage page;
    };
    const Case cases[] = {
        {0, false, false, MainWindowPage::NoDevice},
        // No TV and no link: the no-device page even while the window picker is on.
        {0, false, true, MainWindowPage::NoDevice},
        {0, true, true, MainWindowPage::Window},
        {3, false, true, MainWindowPage::Window},
        {0, true, false, MainWindowPage::Connected},
        {2, true, false, MainWindowPage::Connected},
        {1, false, false, MainWindowPage::DeviceList},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.found << " found, connected " << c.connected << ", window view "
                                        << c.inWindowInfoView);
        EXPECT_EQ(choosePage(c.found, c.connected, c.inWindowInfoView), c.page);
    }
}

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

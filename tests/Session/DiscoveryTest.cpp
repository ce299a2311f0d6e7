#include "Session/ConnectionController.h"
#include "Session/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The session with discovery running against the TV's responder on 127.0.0.1, and no local interface
// to decode a casting code with, so a code can only connect through the list.
class DiscoveryTest : public SessionFixture {
protected:
    static constexpr const char* kCode = "A1B2C3";

    static TvSim::Options withDiscovery()
    {
        TvSim::Options options = tvOptions();
        options.castingCode = kCode;
        options.discoveryPort = 0;
        return options;
    }
    DiscoveryTest() : SessionFixture(withDiscovery()) {}

    SessionServices services() override
    {
        SessionServices s = SessionFixture::services();
        s.discovery = FindTvDevices::Options{.localAddresses = {"127.0.0.1"}, .target = "127.0.0.1",
                                             .port = tv.discoveryPort()};
        s.localAddresses = [] { return std::vector<std::string>{}; };
        return s;
    }

    size_t found() { return controller->connection().findDeviceCount(); }
};

TEST_F(DiscoveryTest, TheListFollowsDiscoveryAndAListedCodeConnectsWithoutDecoding)
{
    makeController();
    EXPECT_TRUE(view.callsStartingWith("show").empty()) << "the first tick comes a second after the start";
    ASSERT_TRUE(waitForView("showPage DeviceList"));
    EXPECT_EQ(found(), 1u);
    EXPECT_EQ(view.last("showDevices"), "showDevices 127.0.0.1(Living Room)");

    controller->connection().inputIPTextField(kCode);
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
    EXPECT_EQ(state().inputScreenProjectionCode, kCode);
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(view.last("showDevices"), "showDevices 127.0.0.1(Living Room,connected)");
    // The name the list holds shows on the connected page after the next tick.
    const size_t names = view.callsStartingWith("showTvName").size();
    ASSERT_TRUE(waitForView("showTvName", names + 1));
    EXPECT_EQ(view.last("showTvName"), "showTvName Living Room");
    ASSERT_TRUE(waitForView("showPage Connected", 2));

    // The disconnect button: the page goes at once, the tick at once shows the list again.
    controller->connection().clickDisConnectBtn();
    ASSERT_TRUE(runUntil([this] { return view.last("showPage") == "showPage DeviceList"; }));
    EXPECT_FALSE(state().ConnectWithTv);
    EXPECT_EQ(view.last("showDevices"), "showDevices 127.0.0.1(Living Room)");

    // The TV's end: the page goes with the toast, not at the next tick.
    ASSERT_TRUE(runUntil([this] { return found() == 1; }));
    controller->connection().connectDevice("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    ASSERT_TRUE(waitForView("showPage Connected", 3));
    view.calls.clear();
    tv.closeLink();
    ASSERT_TRUE(runUntil([this] { return !view.callsStartingWith("toast").empty(); }));
    EXPECT_EQ(view.last("showPage"), "showPage DeviceList");
}

TEST_F(DiscoveryTest, APickedTvConnectsAndAFailedOneLeavesTheList)
{
    tv.setAnswerServerInfo(false);
    makeController();
    ASSERT_TRUE(runUntil([this] { return found() == 1; }));
    controller->connection().connectDevice("127.0.0.1");
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    loop->advance(TCPManager::kServerInfoTimeout);
    ASSERT_TRUE(waitForView("toast"));
    EXPECT_EQ(view.last("showInputError"), "showInputError (hidden)") << "no tip for a TV from the list";
    EXPECT_FALSE(state().ConnectWithTv);
    EXPECT_FALSE(controller->connection().checkDeviceViewController().getIPScreenProjection("127.0.0.1")->state);

    tv.setAnswerServerInfo(true);
    ASSERT_TRUE(runUntil([this] { return found() == 1; }));
    controller->connection().connectDevice("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
    EXPECT_EQ(state().connectMode, ConnectMode::PickedFromList);
}

} // namespace

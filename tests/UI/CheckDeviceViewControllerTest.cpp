#include "Platform/MainLoopFixture.h"
#include "UI/CheckDeviceViewController.h"
#include "UI/TvDevicesNameDelegate.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The list on a clock the test sets, fed as discovery would feed it (here from the test's thread, the
// main loop's), with its main-queue work run by the test.
class CheckDeviceViewControllerTest : public MainLoopFixture, public TvDevicesNameDelegate {
protected:
    CheckDeviceViewControllerTest()
    {
        list.setDelegate(this);
        list.setReloadHandler([this] { ++reloads; });
    }
    ~CheckDeviceViewControllerTest() override { list.setDelegate(nullptr); }

    void refreshTvDevicesName() override { ++nameRefreshes; }

    // A reply heard now from address, with the TV's name and a fourth field "0" + code.
    void hear(const std::string& address, const std::string& name = "TV", const std::string& code = "A1B2C3")
    {
        list.findTvDevicesInfo(address + "&" + name + "&02:00:00:00:00:01&0" + code);
    }
    // The end of a discovery tick, and its work on the main queue.
    void tick()
    {
        list.refreshTvDevicesList();
        loop->runUntilIdle();
    }
    std::vector<std::string> addresses() const
    {
        std::vector<std::string> found;
        for (const TvDeviceInfo& tv : list.devices())
            found.push_back(tv.ipAddr);
        return found;
    }

    double now = 1'000.0;
    int reloads = 0;
    int nameRefreshes = 0;
    int releases = 0;
    CheckDeviceViewController list{[this] { ++releases; }, [this] { return now; }};
};

TEST_F(CheckDeviceViewControllerTest, RepliesMakeEntriesWithACodeOnlyFromASevenCharacterField)
{
    list.findTvDevicesInfo("10.0.0.1&Hall&02:00:00:00:00:01&0A1B2C3");
    list.findTvDevicesInfo("10.0.0.2&Six&02:00:00:00:00:02&A1B2C3");
    list.findTvDevicesInfo("10.0.0.3&Eight&02:00:00:00:00:03&00A1B2C3");
    list.findTvDevicesInfo("10.0.0.4&NoMac");
    list.findTvDevicesInfo("10.0.0.5");
    const auto devices = list.devices();
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].screenCode, "A1B2C3");
    EXPECT_EQ(devices[0].name, "Hall");
    EXPECT_EQ(devices[0].refreshTimeStamp, now);
    EXPECT_EQ(devices[1].screenCode, "");
    EXPECT_EQ(devices[2].screenCode, "");
    EXPECT_EQ(list.findDeviceCount(), 3u);
}

TEST_F(CheckDeviceViewControllerTest, AChangedReplyReloadsAtTheNextTickAndASameOneOnlyRenews)
{
    hear("10.0.0.1", "Hall");
    tick();
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(nameRefreshes, 1);

    now += 5;
    hear("10.0.0.1", "Hall");
    EXPECT_EQ(list.devices()[0].refreshTimeStamp, now);
    tick();
    EXPECT_EQ(reloads, 1) << "the same name and code change nothing";
    EXPECT_EQ(nameRefreshes, 2) << "the name delegate hears every tick";

    hear("10.0.0.1", "Kitchen");
    EXPECT_EQ(reloads, 1) << "the reload waits for the tick";
    tick();
    EXPECT_EQ(reloads, 2);
    EXPECT_EQ(list.devices()[0].name, "Kitchen");

    // A new code renews the entry; a known TV takes it whatever its length; an empty field keeps it.
    hear("10.0.0.1", "Kitchen", "XYZ");
    EXPECT_EQ(list.devices()[0].screenCode, "XYZ");
    list.findTvDevicesInfo("10.0.0.1&Kitchen&02:00:00:00:00:01&");
    EXPECT_EQ(list.devices()[0].screenCode, "XYZ");
    // Two fields renew a known TV.
    now += 1;
    list.findTvDevicesInfo("10.0.0.1&Kitchen");
    EXPECT_EQ(list.devices()[0].refreshTimeStamp, now);
}

TEST_F(CheckDeviceViewControllerTest, ATvSilentForMoreThanTenSecondsLeaves)
{
    hear("10.0.0.1");
    now += 0.5;
    hear("10.0.0.2");
    now += CheckDeviceViewController::kSilenceLimitSeconds;
    tick();
    // 10.5 s since the first, exactly 10.0 s since the second.
    EXPECT_EQ(addresses(), (std::vector<std::string>{"10.0.0.2"}));
    now += 0.001;
    tick();
    EXPECT_TRUE(addresses().empty());

    // An empty list keeps its change for the first tick after a TV is heard again.
    const int before = reloads;
    hear("10.0.0.3");
    tick();
    EXPECT_EQ(reloads, before + 1);
    EXPECT_EQ(addresses(), (std::vector<std::string>{"10.0.0.3"}));
}

TEST_F(CheckDeviceViewControllerTest, ExpiredEntriesLeaveInOrder)
{
    for (int i = 0; i < 5; ++i)
        hear("10.0.0." + std::to_string(i));
    now += 11;
    for (int i : {0, 2, 4})
        hear("10.0.0." + std::to_string(i));
    tick();
    EXPECT_EQ(addresses(), (std::vector<std::string>{"10.0.0.0", "10.0.0.2", "10.0.0.4"}));
}

TEST_F(CheckDeviceViewControllerTest, LookUpsAndConnectionMarks)
{
    hear("10.0.0.1", "Hall", "A1B2C3");
    hear("10.0.0.2", "Room", "ZZ9Y8X");
    EXPECT_EQ(list.getIPScreenProjection(std::nullopt), std::nullopt);
    EXPECT_EQ(list.getIPScreenProjection("10.0.0.9"), std::nullopt);
    EXPECT_EQ(list.getIPScreenProjection("10.0.0.2")->name, "Room");
    EXPECT_EQ(list.getscreenCodeProjection("ZZ9Y8X")->ipAddr, "10.0.0.2");
    EXPECT_EQ(list.getscreenCodeProjection("zz9y8x"), std::nullopt) << "the code is compared as typed";

    list.tvConnectSuccess("10.0.0.2");
    EXPECT_TRUE(list.getIPScreenProjection("10.0.0.2")->state);
    EXPECT_EQ(reloads, 1);
    list.tvConnectSuccess(std::nullopt);
    list.tvConnectSuccess("10.0.0.9");
    EXPECT_EQ(reloads, 1) << "nothing to mark, nothing to reload";
    list.tvDisConnect("10.0.0.2");
    EXPECT_FALSE(list.getIPScreenProjection("10.0.0.2")->state);
    list.tvDisConnect(std::nullopt);
    EXPECT_EQ(reloads, 3) << "no address still reloads";
}

TEST_F(CheckDeviceViewControllerTest, AFailedTvLeavesAtTheNextTickUnlessItAnswersFirst)
{
    hear("10.0.0.1");
    hear("10.0.0.2");
    list.tvConnectFail("10.0.0.1");
    list.tvConnectFail("10.0.0.2");
    EXPECT_FALSE(list.getIPScreenProjection("10.0.0.1")->state);
    hear("10.0.0.2");
    tick();
    EXPECT_EQ(addresses(), (std::vector<std::string>{"10.0.0.2"}));
    // After its removal the TV's next reply makes a new entry.
    hear("10.0.0.1");
    EXPECT_EQ(addresses(), (std::vector<std::string>{"10.0.0.2", "10.0.0.1"}));
}

TEST_F(CheckDeviceViewControllerTest, AnUnreachableNetworkEndsTheLinkAndEmptiesTheList)
{
    hear("10.0.0.1");
    list.unreachableNetwork();
    EXPECT_EQ(list.findDeviceCount(), 1u) << "the work waits for the main queue";
    loop->runUntilIdle();
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(list.findDeviceCount(), 0u);
    EXPECT_EQ(reloads, 1);
}

// Work still queued when the list goes does nothing.
TEST(CheckDeviceViewControllerLifetime, QueuedWorkDiesWithTheList)
{
    auto loop = std::make_shared<TestMainLoop>();
    MainQueue::install(loop);
    int reloads = 0;
    {
        CheckDeviceViewController list(nullptr, [] { return 0.0; });
        list.setReloadHandler([&] { ++reloads; });
        list.findTvDevicesInfo("10.0.0.1&TV&mac&0A1B2C3");
        list.refreshTvDevicesList();
        list.unreachableNetwork();
    }
    loop->runUntilIdle();
    EXPECT_EQ(reloads, 0);
    MainQueue::install(nullptr);
}

} // namespace

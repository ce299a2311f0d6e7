#include "NetworkNamespaceSupport.h"
#include "Utils/LocalizedText.h"
#include "Session/SessionTestSupport.h"
#include "Session/ConnectionController.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Several local interfaces make one casting code into several addresses. Those live on the loopback
// device of a private network namespace: 10.0.0.1 holds a TV that never answers, nothing listens on
// 11.0.0.1, 12.0.0.1 and 13.0.0.1 hold TVs that do.
class CastingCodeInterfacesTest : public MainLoopFixture {
protected:
    static TvSim::Options tvAt(const std::string& address, uint16_t port)
    {
        TvSim::Options options = SessionFixture::tvOptions();
        options.address = address;
        options.port = port;
        return options;
    }

    void SetUp() override
    {
        if (!NetworkNamespaceSupport::insideOwnNetworkNamespace())
            return;
        NetworkNamespaceSupport::ip({"link", "set", "lo", "up"});
        for (const char* address : {"10.0.0.1/32", "11.0.0.1/32", "12.0.0.1/32", "13.0.0.1/32"})
            NetworkNamespaceSupport::ip({"addr", "add", address, "dev", "lo"});
        // All on one port, the one the kernel gives the first.
        answering = std::make_unique<TvSim>(tvAt("12.0.0.1", 0));
        ASSERT_TRUE(answering->start());
        silent = std::make_unique<TvSim>(tvAt("10.0.0.1", answering->port()));
        ASSERT_TRUE(silent->start());
        silent->setAnswerServerInfo(false);
        later = std::make_unique<TvSim>(tvAt("13.0.0.1", answering->port()));
        ASSERT_TRUE(later->start());
    }

    std::unique_ptr<MainWindowController> makeController()
    {
        SessionServices services;
        services.link = &link;
        services.discovery.reset();
        services.tvPort = answering->port();
        services.localAddresses = [] {
            return std::vector<std::string>{"10.9.9.9", "11.9.9.9", "10.1.2.3", "12.9.9.9", "13.9.9.9"};
        };
        return std::make_unique<MainWindowController>(view, services);
    }

    std::unique_ptr<TvSim> answering;
    std::unique_ptr<TvSim> silent;
    std::unique_ptr<TvSim> later;
    TCPManager link{SessionFixture::linkOptions()};
    RecordingView view;
};

TEST_F(CastingCodeInterfacesTest, AddressesAreTriedInTurnUntilOneConnects)
{
    NetworkNamespaceSupport::runInOwnNetworkNamespace("CastingCodeInterfacesTest", "AddressesAreTriedInTurnUntilOneConnects");
}

TEST_F(CastingCodeInterfacesTest, DISABLED_AddressesAreTriedInTurnUntilOneConnects)
{
    ASSERT_TRUE(NetworkNamespaceSupport::insideOwnNetworkNamespace());
    auto controller = makeController();
    controller->windowDidLoad();

    controller->connection().inputIPTextField(encodeCastingCode('7', {0, 0, 1}));
    // First 10.0.0.1, which takes the link and never answers.
    ASSERT_TRUE(silent->waitForMessage(kMsgClientInfo));
    EXPECT_EQ(answering->linksAccepted(), 0u) << "one attempt at a time";
    loop->advance(TCPManager::kServerInfoTimeout);
    // Then 11.0.0.1 (refused), then 12.0.0.1.
    ASSERT_TRUE(loop->runUntil([&] { return controller->state().ConnectWithTv; }));
    EXPECT_TRUE(silent->waitForDisconnect()) << "the unanswered link is let go";
    EXPECT_EQ(controller->state().tvDeviceIp, "12.0.0.1");
    EXPECT_EQ(view.last("showTvAddress"), "showTvAddress 12.0.0.1");
    EXPECT_TRUE(view.callsStartingWith("toast").empty());
    EXPECT_EQ(view.last("showInputError"), "showInputError (hidden)");
    // The first that connects ends the search: 13.0.0.1 is never tried, the link stays.
    loop->advance(5 * TCPManager::kServerInfoTimeout);
    EXPECT_EQ(later->linksAccepted(), 0u);
    EXPECT_TRUE(answering->connected());
    EXPECT_TRUE(controller->state().ConnectWithTv);

    // A code that no TV answers on any interface: one failure, after the last.
    view.calls.clear();
    controller->connection().inputIPTextField(encodeCastingCode('7', {0, 0, 9}));
    ASSERT_TRUE(loop->runUntil([&] { return !view.callsStartingWith("toast").empty(); }));
    loop->runUntilIdle();
    EXPECT_EQ(view.callsStartingWith("toast").size(), 1u);
    EXPECT_EQ(view.last("showInputError"), "showInputError " + LocalizedText::text("STRING_CANNOT_SEARCH_CODE"));
    EXPECT_FALSE(controller->state().ConnectWithTv);

    controller.reset();
    NetworkNamespaceSupport::markPassedUnlessFailed();
}

} // namespace

#include "Socket/ClientInfoRecord.h"
#include "Utils/LocalizedText.h"
#include "Session/SessionTestSupport.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/FileOfferController.h"
#include "tv-sim/TvFileServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

using ConnectionControllerTest = SessionFixture;

const std::string kFailToast = "toast " + LocalizedText::text("STRING_CONNECT_FAIL") + " close=0 position=1 time=3.000000";

TEST_F(ConnectionControllerTest, ATypedAddressConnectsAndShowsTheConnectedPage)
{
    makeController();
    connectTyped();
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
    EXPECT_EQ(state().connectMode, ConnectMode::PickedFromList);
    EXPECT_EQ(view.last("showPage"), "showPage Connected");
    EXPECT_EQ(view.last("showTvName"), "showTvName Living Room");
    EXPECT_EQ(view.last("showTvAddress"), "showTvAddress 127.0.0.1");
    EXPECT_EQ(view.last("showHelpForConnection"), "showHelpForConnection connected");
    EXPECT_EQ(folderClears, 1);
    const auto speaker = tv.waitForMessage(kMsgSpeakerStatus);
    ASSERT_TRUE(speaker);
    EXPECT_EQ(speaker->length, 0u);
    EXPECT_EQ(state().screenProjectionCode, "") << "this TV asks for no code";
}

TEST_F(ConnectionControllerTest, MalformedInputIsRefusedAndConnectsNothing)
{
    makeController();
    const std::string tip = "showInputError " + LocalizedText::text("STRIGN_IP_FORMAT_ERROR");
    for (const char* input : {"12345", "1234567", "AB-12C", "abc de", "1.2.3.", "256.1.1.1", "127.0.0.1 ",
                              "\xC3\x84\xC3\x96\xC3\x9C", ""}) {
        SCOPED_TRACE(input);
        view.calls.clear();
        controller->connection().inputIPTextField(input);
        EXPECT_EQ(view.calls, (std::vector<std::string>{"showInputError (hidden)", tip}));
        EXPECT_EQ(state().connectMode, ConnectMode::PickedFromList);
    }
    loop->runUntilIdle();
    EXPECT_EQ(tv.linksAccepted(), 0u);
}

// A second Return during the attempt adds nothing; after the failure the same address is tried again.
TEST_F(ConnectionControllerTest, TheSameTextIsTriedOnceWhileItsAttemptRunsAndAgainAfterAFailure)
{
    makeController();
    // The TV listens on 127.0.0.1 only.
    controller->connection().inputIPTextField("127.0.0.2");
    controller->connection().inputIPTextField("127.0.0.2");
    ASSERT_TRUE(waitForView(kFailToast));
    EXPECT_EQ(view.last("showInputError"), "showInputError " + LocalizedText::text("STRING_CANNOT_SEARCH_IP"));
    EXPECT_EQ(view.last("showConnectInfo"), "showConnectInfo " + LocalizedText::text("STRING_NO_CONNECTED"));
    EXPECT_EQ(state().connectMode, ConnectMode::PickedFromList);
    EXPECT_FALSE(state().tvDeviceIp);

    loop->runUntilIdle();
    EXPECT_EQ(view.callsStartingWith("toast").size(), 1u) << "one failure per attempt";

    view.calls.clear();
    controller->connection().inputIPTextField("127.0.0.2");
    ASSERT_TRUE(waitForView(kFailToast)) << "the retry of the same address is tried";
}

TEST_F(ConnectionControllerTest, ASuccessfulLinkLetsTheSameTextBeTriedAgain)
{
    makeController();
    connectTyped();
    view.fileWindowVisible = true;
    tv.closeLink();
    ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
    EXPECT_FALSE(view.fileWindowVisible) << "the file window closes with the link";
    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(tv.linksAccepted(), 2u);
}

// A TV that does not answer in time: the failure is reported, the half-open link let go, and a
// retry to the same TV connects.
TEST_F(ConnectionControllerTest, ATimedOutLinkIsReleasedAndARetryConnects)
{
    tv.setAnswerServerInfo(false);
    makeController();
    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    loop->advance(TCPManager::kServerInfoTimeout);
    ASSERT_TRUE(waitForView(kFailToast));
    EXPECT_EQ(view.last("showInputError"), "showInputError " + LocalizedText::text("STRING_CANNOT_SEARCH_IP"));
    EXPECT_TRUE(tv.waitForDisconnect()) << "the half-open link stays with the TV";
    EXPECT_EQ(link.getConnectTvIp(), "0.0.0.0");

    tv.setAnswerServerInfo(true);
    controller->connection().inputIPTextField("127.0.0");
    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
    EXPECT_EQ(view.last("showTvAddress"), "showTvAddress 127.0.0.1");
    EXPECT_EQ(tv.linksAccepted(), 2u);
    EXPECT_EQ(view.callsStartingWith("toast").size(), 1u);
    // The end of the link that never came up undid nothing: only the new link emptied the folder.
    EXPECT_EQ(folderClears, 1);
}

// The field shows the attempt; Escape ends it without a failure, and the same address connects after.
TEST_F(ConnectionControllerTest, AnAttemptShowsItselfAndEscapeCancelsIt)
{
    tv.setAnswerServerInfo(false);
    makeController();
    controller->connection().inputIPTextField("127.0.0.1");
    EXPECT_EQ(view.last("showConnecting"), "showConnecting 1");
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    controller->connection().cancelConnect();
    EXPECT_EQ(view.last("showConnecting"), "showConnecting 0");
    EXPECT_TRUE(tv.waitForDisconnect());
    loop->advance(TCPManager::kServerInfoTimeout);
    loop->runUntilIdle();
    EXPECT_TRUE(view.callsStartingWith("toast").empty()) << "a cancel is no failure";
    EXPECT_FALSE(state().tvDeviceIp);

    tv.setAnswerServerInfo(true);
    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(view.last("showConnecting"), "showConnecting 0");
}

TEST_F(ConnectionControllerTest, TheLinkEndsFromEitherSide)
{
    makeController();
    connectTyped();
    // What the link started: the TV's offer counting down, an alert of the TV's, the casting-code window.
    ASSERT_TRUE(tv.send(kMsgFileShareOffer, TvMessages::text(TvFileServer::offerJSON("http://127.0.0.1:9/f", {{"1", "a"}}))));
    ASSERT_TRUE(tv.send(kMsgTvScreenFail, TvMessages::int32(0)));
    ASSERT_TRUE(waitForView("alert"));
    ASSERT_TRUE(waitForView("showFileShareWindow"));
    state().screenProjectionCode = "A1B2C3";
    controller->casting().clickScreen(true);
    ASSERT_EQ(view.calls.back(), "showCastingCodeWindow");
    tv.closeLink();
    ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
    EXPECT_EQ(view.last("toast").rfind("toast " + LocalizedText::text("STRING_LINK_TV_GONE") + " close=1", 0), 0u)
        << "an end the user did not ask for is said";
    // The link's end undid it all, telling the TV nothing.
    EXPECT_FALSE(controller->fileOffers().isWaitingForAnswer());
    EXPECT_EQ(view.last("hideFileShareWindow"), "hideFileShareWindow");
    EXPECT_EQ(view.last("closeAlerts"), "closeAlerts");
    EXPECT_FALSE(view.pendingAlert);
    EXPECT_EQ(view.last("hideCastingCodeWindow"), "hideCastingCodeWindow");
    EXPECT_EQ(view.last("showConnectInfo"), "showConnectInfo " + LocalizedText::text("STRING_NO_CONNECTED"));
    EXPECT_EQ(view.last("showHelpForConnection"), "showHelpForConnection not connected");
    // Without discovery the page follows at once; no TV found and not connected.
    EXPECT_EQ(view.last("showPage"), "showPage NoDevice");
    EXPECT_FALSE(state().tvDeviceIp);
    EXPECT_FALSE(state().screenProjectionCode);
    EXPECT_EQ(folderClears, 2);

    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(waitConnected());
    // The ended offer's countdown answers nobody, the new TV least of all.
    loop->advance(std::chrono::seconds(FileOfferController::kAnswerSeconds));
    syncWithTv();
    EXPECT_EQ(tv.receivedCount(kMsgFileShareReject), 0u);
    view.calls.clear();
    controller->connection().clickDisConnectBtn();
    EXPECT_EQ(view.calls.front(), "hidePage Connected");
    ASSERT_TRUE(tv.waitForDisconnect());
    ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
    EXPECT_EQ(view.last("showPage"), "showPage NoDevice");
    EXPECT_TRUE(view.callsStartingWith("toast").empty());
}

// Each end of a link the user did not ask for says what happened and what to do; the user's own end
// says nothing.
TEST_F(ConnectionControllerTest, EachEndOfTheLinkHasItsOwnToast)
{
    makeController();
    const struct {
        const char* label;
        std::function<void()> end;
        std::optional<std::string> toast;
    } ends[] = {
        {"the TV hangs up", [this] { tv.closeLink(); }, "STRING_LINK_TV_GONE"},
        // As the transport reports a link that went silent; the link itself is let go below.
        {"the network is gone", [this] { controller->connection().onDisConnect(LinkEndReason::NetworkLost); },
         "STRING_LINK_NETWORK_GONE"},
        {"the TV removes this computer", [this] { ASSERT_TRUE(tv.send(kMsgClientRemove)); }, "STRING_LINK_LOST"},
        {"the user disconnects", [this] { controller->connection().clickDisConnectBtn(); }, std::nullopt},
    };
    for (const auto& end : ends) {
        SCOPED_TRACE(end.label);
        connectTyped();
        view.calls.clear();
        end.end();
        ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
        const auto toasts = view.callsStartingWith("toast");
        if (end.toast) {
            ASSERT_EQ(toasts.size(), 1u);
            EXPECT_EQ(toasts[0].rfind("toast " + LocalizedText::text(*end.toast) + " close=1", 0), 0u) << toasts[0];
        } else {
            EXPECT_TRUE(toasts.empty());
        }
        // Every link is down, and its end handled, before the next one comes up.
        link.tcpClientRelease();
        ASSERT_TRUE(tv.waitForDisconnect());
        link.processQueue()->sync([] {});
        loop->runUntilIdle();
    }
}

class CastingCodeConnectTest : public SessionFixture {
protected:
    static TvSim::Options withCode()
    {
        TvSim::Options options = tvOptions();
        // The code of 127.0.0.1's last three octets.
        options.castingCode = encodeCastingCode('Q', {0, 0, 1});
        return options;
    }
    CastingCodeConnectTest() : SessionFixture(withCode()) {}
};

TEST_F(CastingCodeConnectTest, ACodeDecodedWithTheLocalInterfaceConnects)
{
    makeController();
    const std::string code = encodeCastingCode('Q', {0, 0, 1});
    controller->connection().inputIPTextField(code);
    EXPECT_EQ(state().connectMode, ConnectMode::CastingCode);
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
    ASSERT_TRUE(waitConnected());
    ASSERT_TRUE(runUntil([this] { return state().screenProjectionCode.has_value(); }));
    EXPECT_EQ(state().screenProjectionCode, code);
    EXPECT_EQ(state().inputScreenProjectionCode, code) << "casting will not ask for the code again";
    EXPECT_EQ(state().tvDeviceIp, "127.0.0.1");
}

// The casting-code window's field shows the code the session holds: the code that connected, then
// nothing once the link ends.
TEST_F(CastingCodeConnectTest, TheCastingCodeFieldFollowsTheLink)
{
    makeController();
    const std::string code = encodeCastingCode('Q', {0, 0, 1});
    controller->connection().inputIPTextField(code);
    ASSERT_TRUE(waitConnected());
    EXPECT_EQ(view.last("setCastingCodeText"), "setCastingCodeText " + code);
    tv.closeLink();
    ASSERT_TRUE(runUntil([this] { return !state().ConnectWithTv; }));
    EXPECT_EQ(view.last("setCastingCodeText"), "setCastingCodeText ");
}

TEST_F(CastingCodeConnectTest, ACodeThatReachesNoTvFailsOnce)
{
    makeController();
    // 127.0.0.2: nobody listens there on the TV's port.
    controller->connection().inputIPTextField(encodeCastingCode('Q', {0, 0, 2}));
    ASSERT_TRUE(waitForView(kFailToast));
    EXPECT_EQ(view.last("showInputError"), "showInputError " + LocalizedText::text("STRING_CANNOT_SEARCH_CODE"));
    loop->runUntilIdle();
    EXPECT_EQ(view.callsStartingWith("toast").size(), 1u);
    EXPECT_EQ(tv.linksAccepted(), 0u);
}

class NoInterfaceTest : public SessionFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = SessionFixture::services();
        s.localAddresses = [] { return std::vector<std::string>{}; };
        return s;
    }
};

// With no interface to decode it with, a code still ends in one failure report, not in silence.
TEST_F(NoInterfaceTest, ACodeWithoutAnInterfaceFails)
{
    makeController();
    controller->connection().inputIPTextField("Q00001");
    EXPECT_EQ(view.last("showInputError"), "showInputError " + LocalizedText::text("STRING_CANNOT_SEARCH_CODE"));
    EXPECT_EQ(view.callsStartingWith("toast"), (std::vector<std::string>{kFailToast}));
    EXPECT_EQ(state().connectMode, ConnectMode::PickedFromList);
}

} // namespace

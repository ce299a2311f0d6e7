#include "Socket/TCPManagerTestSupport.h"

#include "Socket/CastVideoFormatPayload.h"
#include "Socket/ClientInfoRecord.h"
#include "Socket/MessageType.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

namespace {

using TCPManagerConnectTest = TCPManagerFixture;

TEST_F(TCPManagerConnectTest, ConnectSendsClientInfoAndReportsTheTvOnTheQueue)
{
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    ASSERT_TRUE(delegate.waitFor("onConnectSuccess"));
    const auto success = delegate.calls("onConnectSuccess");
    EXPECT_EQ(success[0].args, "Living Room");
    EXPECT_EQ(success[0].where, Where::Queue);
    EXPECT_EQ(manager.getConnectTvIp(), "127.0.0.1");

    // The TV answers before it records what it answered.
    const auto raw = tv.waitForMessage(kMsgClientInfo);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->length, ClientInfoRecord::kSize);
    const auto info = ClientInfoRecord::decode(raw->payload);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->osName, "macOS");
    EXPECT_TRUE(std::regex_match(info->osVersion, std::regex(R"(\d+\.\d+\.\d+)"))) << info->osVersion;
    EXPECT_FALSE(info->deviceName.empty());

    // The answer cancelled the wait.
    loop->advance(5 * TCPManager::kServerInfoTimeout);
    EXPECT_EQ(delegate.count("onConnectFail"), 0u);
}

TEST_F(TCPManagerConnectTest, AFailedConnectIsReportedOnTheMainQueue)
{
    RefusingPort refusing;
    EXPECT_TRUE(manager.connectToHost("127.0.0.1", refusing.port()));
    ASSERT_TRUE(delegate.waitFor("onConnectFail"));
    EXPECT_EQ(delegate.calls("onConnectFail")[0].where, Where::Main);
    EXPECT_TRUE(manager.connectToHost("not an address", tv.port()));
    ASSERT_TRUE(delegate.waitFor("onConnectFail", 2));
    EXPECT_EQ(manager.getConnectTvIp(), "0.0.0.0");
}

TEST_F(TCPManagerConnectTest, ConnectingReturnsAtOnceAndAFailureStillArrives)
{
    StalledListener stalled;
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_TRUE(manager.connectToHost("127.0.0.1", stalled.port()));
    // A generous bound: the connect itself goes on until its time-out.
    EXPECT_LT(std::chrono::steady_clock::now() - begun, quickTiming().connectTimeout / 2);
    EXPECT_EQ(delegate.count("onConnectFail"), 0u);
    ASSERT_TRUE(delegate.waitFor("onConnectFail"));
    EXPECT_EQ(delegate.calls("onConnectFail")[0].where, Where::Main);
    EXPECT_EQ(manager.getConnectTvIp(), "0.0.0.0");
}

// A release, or a connect to another TV, while a connect is under way: the older connect reports
// nothing, and a link it makes after all is closed without a word to the peer.
TEST_F(TCPManagerConnectTest, ALaterRequestSupersedesAConnectUnderWay)
{
    for (const bool release : {true, false}) {
        SCOPED_TRACE(release ? "release" : "another TV");
        StalledListener stalled;
        ASSERT_TRUE(manager.connectToHost("127.0.0.1", stalled.port()));
        if (release) {
            manager.tcpClientRelease();
        } else {
            ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
        }
        stalled.open();
        const int late = stalled.accept(3s);
        // The superseded connect has ended, and with it whatever it made.
        manager.processQueue()->sync([] {});
        if (late >= 0) {
            char byte = 0;
            EXPECT_TRUE(readable(late));
            EXPECT_EQ(::recv(late, &byte, 1, 0), 0);
            ::close(late);
        }
        if (!release) {
            ASSERT_TRUE(delegate.waitFor("onConnectSuccess"));
        }
        EXPECT_EQ(manager.getConnectTvIp(), release ? "0.0.0.0" : "127.0.0.1");
        loop->advance(5 * TCPManager::kServerInfoTimeout);
        EXPECT_EQ(delegate.count("onConnectFail"), 0u);
        EXPECT_EQ(delegate.count("onDisConnect"), 0u);
        manager.tcpClientRelease();
        if (!release) {
            ASSERT_TRUE(delegate.waitFor("onDisConnect"));
        }
        delegate.clear();
    }
}

// A link the TV does not answer in time is let go: the TV sees it end, its end is reported after the
// failure, and nothing of it is left for a retry to trip over.
TEST_F(TCPManagerConnectTest, ATvThatDoesNotAnswerInTimeIsLetGo)
{
    tv.setAnswerServerInfo(false);
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    loop->advance(TCPManager::kServerInfoTimeout - 1ms);
    EXPECT_EQ(delegate.count("onConnectFail"), 0u);
    loop->advance(1ms);
    const auto fails = delegate.calls("onConnectFail");
    ASSERT_EQ(fails.size(), 1u);
    EXPECT_EQ(fails[0].where, Where::Main);
    ASSERT_TRUE(tv.waitForDisconnect());
    EXPECT_EQ(manager.getConnectTvIp(), "0.0.0.0");
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    std::vector<std::string> order;
    for (const auto& call : delegate.calls())
        order.push_back(call.name);
    EXPECT_EQ(order, (std::vector<std::string>{"onConnectFail", "onDisConnect"}));
    loop->advance(5 * TCPManager::kServerInfoTimeout);
    EXPECT_EQ(delegate.count("onConnectFail"), 1u);
}

// A TV that stops answering, its heartbeats' answers too, ends the link once the receive time-outs
// run out: the network is gone, not the TV's hang-up.
TEST_F(TCPManagerConnectTest, ATvThatStopsAnsweringEndsTheLinkAsTheNetworkLost)
{
    TCPManager::Options options = managerOptions();
    options.timing.heartbeatInterval = 20ms;
    options.timing.receiveTimeout = 100ms;
    options.timing.receiveTimeouts = 5;
    // Outlives the manager, which reports the end of the link as it goes.
    RecordingDelegate watching{loop};
    TCPManager beating{std::move(options)};
    watching.attach(beating);
    ASSERT_TRUE(beating.connectToHost("127.0.0.1", tv.port()));
    ASSERT_TRUE(watching.waitFor("onConnectSuccess"));
    // The answers to the heartbeats hold the link well past the time-outs.
    ASSERT_TRUE(eventually([&] { return tv.receivedCount(kMsgHeartbeat) >= 40; }));
    EXPECT_EQ(watching.count("onDisConnect"), 0u);

    tv.setReading(false);
    ASSERT_TRUE(watching.waitFor("onDisConnect"));
    EXPECT_EQ(watching.calls("onDisConnect")[0].args, linkEndReasonName(LinkEndReason::NetworkLost));
}

TEST_F(TCPManagerConnectTest, ARetryAfterATimeOutConnectsAgain)
{
    tv.setAnswerServerInfo(false);
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    // The wait starts before the client information goes out.
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    loop->advance(TCPManager::kServerInfoTimeout);
    ASSERT_EQ(delegate.count("onConnectFail"), 1u);

    tv.setAnswerServerInfo(true);
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    ASSERT_TRUE(tv.waitForConnection(TvSim::kDefaultTimeout, 2));
    ASSERT_TRUE(delegate.waitFor("onConnectSuccess"));
    // The first link's end was reported and spared the second.
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    syncWithManager();
    EXPECT_EQ(delegate.count("onDisConnect"), 1u);
    EXPECT_EQ(manager.getConnectTvIp(), "127.0.0.1");
}

TEST_F(TCPManagerConnectTest, TheSameAddressIsIgnoredOnlyOnceTheTvHasAnswered)
{
    connectAndGreet();
    EXPECT_FALSE(manager.connectToHost("127.0.0.1", tv.port()));
    // Any port: the address alone counts.
    EXPECT_FALSE(manager.connectToHost("127.0.0.1", static_cast<uint16_t>(tv.port() + 1)));
    EXPECT_EQ(tv.linksAccepted(), 1u);
    EXPECT_TRUE(tv.connected());
    EXPECT_EQ(delegate.count("onConnectFail"), 0u);
    EXPECT_EQ(delegate.count("onDisConnect"), 0u);
    syncWithManager();
}

TEST_F(TCPManagerConnectTest, AStaleDisconnectSparesTheNewLink)
{
    // A TV that hangs up before it answers, so the retry below is not taken for the same link.
    tv.setAnswerServerInfo(false);
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    ASSERT_TRUE(tv.waitForMessage(kMsgClientInfo));
    // Hold the session queue so the first link's close is still queued when the second link is up.
    Gate gate;
    manager.processQueue()->async([&gate] { gate.wait(); });
    tv.closeLink();
    ASSERT_TRUE(tv.waitForDisconnect());
    tv.setAnswerServerInfo(true);
    // Connecting again joins the first link's threads, so its end is queued ahead of the connect.
    ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
    gate.open();
    ASSERT_TRUE(tv.waitForConnection(TvSim::kDefaultTimeout, 2));
    ASSERT_TRUE(delegate.waitFor("onConnectSuccess"));
    // Reported in order: the old link's end, then the new link's answer.
    std::vector<std::string> order;
    for (const auto& call : delegate.calls()) {
        if (call.name == "onDisConnect" || call.name == "onConnectSuccess")
            order.push_back(call.name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"onDisConnect", "onConnectSuccess"}));
    EXPECT_TRUE(tv.connected());
    EXPECT_EQ(manager.getConnectTvIp(), "127.0.0.1");
    syncWithManager();
    EXPECT_EQ(delegate.count("onDisConnect"), 1u);
}

TEST_F(TCPManagerConnectTest, ReleaseEndsTheLinkAndReportsIt)
{
    connectAndGreet();
    manager.tcpClientRelease();
    EXPECT_EQ(manager.getConnectTvIp(), "0.0.0.0");
    ASSERT_TRUE(tv.waitForDisconnect());
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    EXPECT_EQ(delegate.calls("onDisConnect")[0].where, Where::Queue);
    // A new link to the same TV is made again.
    connectAndGreet();
}


// The answer and the end of the wait race: either the answer wins (success, no failure), or the wait
// does (a failure, then the link's end, whether or not the answer's success slipped in between).
TEST_F(TCPManagerConnectTest, CancellingTheWaitRacesSafelyWithItsExpiry)
{
    tv.setAnswerServerInfo(false);
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        delegate.clear();
        const size_t links = tv.linksAccepted();
        ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
        ASSERT_TRUE(tv.waitForConnection(TvSim::kDefaultTimeout, links + 1));
        // The answer is cancelled on the receive thread while the main loop lets the wait expire.
        std::thread answer([this] { tv.sendServerInfo(); });
        loop->advance(TCPManager::kServerInfoTimeout);
        answer.join();
        ASSERT_TRUE(delegate.waitUntil(
            [&] { return delegate.count("onConnectFail") > 0 || delegate.count("onConnectSuccess") > 0; }));
        if (delegate.count("onConnectFail") == 0) {
            loop->advance(5 * TCPManager::kServerInfoTimeout);
            EXPECT_EQ(delegate.count("onConnectFail"), 0u);
            manager.tcpClientRelease();
        }
        ASSERT_TRUE(delegate.waitFor("onDisConnect"));
        manager.processQueue()->sync([] {});
        loop->runUntilIdle();
        EXPECT_LE(delegate.count("onConnectFail"), 1u);
        EXPECT_EQ(delegate.count("onDisConnect"), 1u);
        EXPECT_EQ(delegate.calls().back().name, "onDisConnect");
    }
}

TEST_F(TCPManagerConnectTest, SendTypeTellsWhetherTheMessageIsOnItsWay)
{
    const auto key = TvMessages::int32(4);
    EXPECT_FALSE(manager.sendType(kMsgKeyDown, key.data(), 4));
    connectAndGreet();
    EXPECT_TRUE(manager.sendType(kMsgKeyDown, key.data(), 4));
    EXPECT_TRUE(manager.sendType(kMsgCastAudioFormat, nullptr, 0));
    EXPECT_FALSE(manager.sendType(0x12345, nullptr, 0));
    tv.closeLink();
    ASSERT_TRUE(delegate.waitFor("onDisConnect"));
    EXPECT_FALSE(manager.sendType(kMsgKeyDown, key.data(), 4));
}

TEST_F(TCPManagerConnectTest, CastFormatsGoOutAsRecords)
{
    connectAndGreet();
    manager.sendVideoResolution(1920, 1080, 2);
    manager.sendAudioAACFormatChannels(2, 48'000, 2);
    manager.sendType(0x12345, nullptr, 0);
    manager.sendType(kMsgKeyDown, TvMessages::int32(4).data(), 4);
    ASSERT_TRUE(tv.waitForMessage(kMsgKeyDown));
    const auto video = tv.received(kMsgCastVideoFormat);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].payload, (CastVideoFormatPayload{1920, 1080, 2}.encode()));
    const auto audio = tv.received(kMsgCastAudioFormat);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].length, 0u);
    // The out-of-range type went nowhere (0x2345 would be its truncation).
    EXPECT_EQ(tv.receivedCount(0x2345), 0u);
}

} // namespace

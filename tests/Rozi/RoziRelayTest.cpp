#include "ChildProcess.h"
#include "Rozi/RelayTestClient.h"

#include "Socket/MessageType.h"
#include "Utils/LocalizedText.h"
#include "Rozi/RoziRelay.h"
#include "Session/SessionTestSupport.h"
#include "tv-sim/PayloadDigest.h"
#include "tv-sim/TvRelayFeed.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint8_t kKeepAlive = RoziRelay::kKeepAlive;

// The session controller with its relay on a kernel-chosen port of 127.0.0.1, linked to the TV peer.
class RoziRelayTest : public SessionFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = SessionFixture::services();
        s.roziPort = roziPort;
        return s;
    }

    RoziRelay& relay() { return controller->relay(); }
    uint16_t port() { return relay().serverPort(); }
    // The TV's earlier messages have reached the relay, and the relay has done what they asked.
    void settle()
    {
        syncWithTv();
        relay().status();
    }
    bool waitForStatus(const std::function<bool(const RoziRelay::Status&)>& done)
    {
        return runUntil([&] { return done(relay().status()); });
    }
    void enableRelay(bool on)
    {
        ASSERT_TRUE(tv.send(kMsgRoziEnable, TvSim::capability(on ? 1 : 0)));
        settle();
    }
    // Names a client and waits until the relay took the name.
    void nameAs(const RelayTestClient& client, int32_t name)
    {
        const bool camera = name == RoziRelay::kCameraName;
        ASSERT_TRUE(client.name(name));
        ASSERT_TRUE(waitForStatus([camera](const RoziRelay::Status& s) { return camera ? s.isCameraConnect : s.isMicConnect; }));
    }
    // For messages that the main loop sends: it runs meanwhile.
    bool waitAtTv(uint16_t type, size_t count)
    {
        return runUntil([&] { return tv.receivedCount(type) >= count; });
    }
    // The tip that the main loop shows once its moment has passed.
    void letTipShow()
    {
        loop->runUntilIdle();
        loop->advance(100ms);
    }

    uint16_t roziPort = 0;
};

TEST_F(RoziRelayTest, OpensGoToTheTvOnlyWhileItEnablesTheRelay)
{
    makeController();
    connectTyped();
    ASSERT_NE(port(), 0);
    RelayTestClient camera(port());
    ASSERT_TRUE(camera.connected());
    nameAs(camera, RoziRelay::kCameraName);
    settle();
    EXPECT_EQ(tv.receivedCount(kMsgCameraOpen), 0u) << "the relay is not enabled";

    enableRelay(true);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgCameraOpen, 1));
    // Enabled again: nothing new. Each naming chunk of the microphone sends its open.
    enableRelay(true);
    RelayTestClient mic(port());
    nameAs(mic, RoziRelay::kMicName);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgMicOpen, 1));
    ASSERT_TRUE(mic.name(RoziRelay::kMicName));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgMicOpen, 2));
    EXPECT_EQ(tv.receivedCount(kMsgCameraOpen), 1u);

    // The TV asks for the camera.
    ASSERT_TRUE(tv.send(kMsgCameraOpenRequest));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgCameraOpen, 2));

    // A third and a fourth client are read like the first two; the fourth takes the camera's place.
    RelayTestClient third(port());
    RelayTestClient fourth(port());
    ASSERT_TRUE(third.send({'h', 'e', 'l', 'l', 'o'}));
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return s.unknownChunks == 1 && s.clients == 4; }));
    ASSERT_TRUE(fourth.name(RoziRelay::kCameraName));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgCameraOpen, 3));

    // Disabled, the camera client leaves silently, and is gone: enabled again, the relay opens the
    // microphone only, as nobody would read the camera.
    enableRelay(false);
    fourth.close();
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return s.clients == 3; }));
    EXPECT_FALSE(relay().status().isCameraConnect);
    enableRelay(true);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgMicOpen, 3));
    settle();
    EXPECT_EQ(tv.receivedCount(kMsgCameraOpen), 3u);
    EXPECT_EQ(tv.receivedCount(kMsgCameraClose), 0u);

    // Enabled, the microphone client's leaving is told.
    mic.close();
    ASSERT_TRUE(tv.waitForMessage(kMsgMicClose));
    EXPECT_FALSE(relay().status().isMicConnect);
    EXPECT_EQ(tv.receivedCount(kMsgCameraClose), 0u);
}

TEST_F(RoziRelayTest, AShortChunkNamesNothingAndAClientNamedTwiceClosesAsBoth)
{
    makeController();
    connectTyped();
    enableRelay(true);
    RelayTestClient shortChunk(port());
    ASSERT_TRUE(shortChunk.send({0x9F, 0x00, 0x00}));
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return s.unknownChunks == 1; }));
    EXPECT_FALSE(relay().status().isCameraConnect);

    RelayTestClient both(port());
    nameAs(both, RoziRelay::kCameraName);
    nameAs(both, RoziRelay::kMicName);
    both.close();
    ASSERT_TRUE(tv.waitForMessage(kMsgCameraClose));
    ASSERT_TRUE(tv.waitForMessage(kMsgMicClose));
    const RoziRelay::Status status = relay().status();
    EXPECT_FALSE(status.isCameraConnect);
    EXPECT_FALSE(status.isMicConnect);
    EXPECT_EQ(tv.receivedCount(kMsgCameraOpen), 1u);
}

TEST_F(RoziRelayTest, ThirtyClientsLeaveEightServedAndTheNamedOnesAmongThem)
{
    makeController();
    connectTyped();
    enableRelay(true);
    RelayTestClient camera(port());
    nameAs(camera, RoziRelay::kCameraName);
    std::vector<std::unique_ptr<RelayTestClient>> crowd;
    for (int i = 0; i < 30; ++i) {
        crowd.push_back(std::make_unique<RelayTestClient>(port()));
        ASSERT_TRUE(crowd.back()->connected());
        ASSERT_TRUE(crowd.back()->send({'x'}));
    }
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return s.unknownChunks >= 7; }));
    EXPECT_LE(relay().status().clients, RoziRelay::kMaxClients);
    // The oldest of the crowd were closed, the newest are served; the camera client is still named.
    EXPECT_TRUE(crowd.front()->closedByRelay());
    EXPECT_FALSE(crowd.back()->closedByRelay(200ms));
    EXPECT_TRUE(relay().status().isCameraConnect);
    ASSERT_TRUE(tv.send(kMsgCameraData, std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(camera.receive(3), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(tv.receivedCount(kMsgCameraClose), 0u);
}

TEST_F(RoziRelayTest, MicrophoneBytesArriveUnchangedAndOnlyAtTheMicrophone)
{
    makeController();
    connectTyped();
    enableRelay(true);
    RelayTestClient camera(port());
    nameAs(camera, RoziRelay::kCameraName);
    // No microphone client yet: dropped.
    ASSERT_TRUE(tv.send(kMsgMicData, std::vector<uint8_t>(100, 0x42)));
    settle();

    RelayTestClient mic(port());
    nameAs(mic, RoziRelay::kMicName);
    std::vector<uint8_t> sent;
    for (uint64_t i = 0; i < 100; ++i) {
        // Sizes from one byte to past a transport fragment.
        const std::vector<uint8_t> message = TvRelayFeed::patternMessage(i, 1 + (i * 7919) % 70'000);
        ASSERT_TRUE(tv.send(kMsgMicData, message));
        sent.insert(sent.end(), message.begin(), message.end());
    }
    const std::vector<uint8_t> received = mic.receive(sent.size());
    EXPECT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    EXPECT_TRUE(mic.receiveFor(200ms).empty());
    EXPECT_TRUE(camera.receiveFor(200ms).empty());
}

TEST_F(RoziRelayTest, TheKeepAliveRunsFromACameraErrorUntilCameraData)
{
    makeController();
    connectTyped();
    enableRelay(true);
    RelayTestClient camera(port());
    nameAs(camera, RoziRelay::kCameraName);

    ASSERT_TRUE(tv.send(kMsgCameraError, TvSim::int32(-2)));
    EXPECT_EQ(camera.receive(1, 500ms), std::vector<uint8_t>{kKeepAlive}) << "at once";
    // A second error while the timer runs leaves one timer: about one byte a second.
    ASSERT_TRUE(tv.send(kMsgCameraError, TvSim::int32(7)));
    // Bounds loose enough for a loaded machine: two timers would give about six.
    const std::vector<uint8_t> waiting = camera.receiveFor(3'000ms);
    EXPECT_GE(waiting.size(), 2u);
    EXPECT_LE(waiting.size(), 4u);
    EXPECT_TRUE(std::all_of(waiting.begin(), waiting.end(), [](uint8_t b) { return b == kKeepAlive; }));

    const std::vector<uint8_t> data = TvRelayFeed::patternMessage(1, 3000);
    ASSERT_TRUE(tv.send(kMsgCameraData, data));
    ASSERT_TRUE(tv.send(kMsgCameraData, data));
    std::vector<uint8_t> after = camera.receiveFor(1'500ms);
    // A keep-alive written just before the data may lead; none follows it.
    while (!after.empty() && after.front() == kKeepAlive && after.size() > 2 * data.size())
        after.erase(after.begin());
    std::vector<uint8_t> twice = data;
    twice.insert(twice.end(), data.begin(), data.end());
    EXPECT_TRUE(after == twice) << after.size() << " bytes after the data";

    // The first error's text shows; the second kept it, since the tip was up.
    letTipShow();
    EXPECT_EQ(view.callsStartingWith("showRoziTipWindow"),
              std::vector<std::string>{"showRoziTipWindow " + LocalizedText::text("STRING_ROZI_REFUSE")});
    controller->cancelRoziTipWindow();
    // A microphone error with only the camera client shows nothing; an unknown camera error its text.
    ASSERT_TRUE(tv.send(kMsgMicError, TvSim::int32(-2)));
    settle();
    letTipShow();
    EXPECT_EQ(view.callsStartingWith("showRoziTipWindow").size(), 1u);
    ASSERT_TRUE(tv.send(kMsgCameraClose, TvSim::int32(7)));
    settle();
    letTipShow();
    EXPECT_EQ(view.last("showRoziTipWindow"),
              "showRoziTipWindow " + LocalizedText::text("STRING_ROZI_UNKNOW_ERROR"));
    EXPECT_EQ(camera.receive(1, 500ms), std::vector<uint8_t>{kKeepAlive}) << "the timer runs again";
    // The camera client gone, the timer stops itself.
    camera.close();
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return !s.isCameraConnect; }));
}

TEST_F(RoziRelayTest, ThePresenterRoleOpensTheRelayOrTellsItsLoss)
{
    makeController();
    connectTyped();
    enableRelay(true);
    RelayTestClient mic(port());
    nameAs(mic, RoziRelay::kMicName);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgMicOpen, 1));

    ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvSim::int32(1)));
    ASSERT_TRUE(waitAtTv(kMsgMicOpen, 2));
    // Losing it with only the microphone client: no tip.
    ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvSim::int32(0)));
    settle();
    letTipShow();
    EXPECT_TRUE(view.callsStartingWith("showRoziTipWindow").empty());

    RelayTestClient camera(port());
    nameAs(camera, RoziRelay::kCameraName);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgCameraOpen, 1));
    ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvSim::int32(1)));
    ASSERT_TRUE(waitAtTv(kMsgCameraOpen, 2));
    ASSERT_TRUE(tv.send(kMsgSpeakerStatus, TvSim::int32(0)));
    settle();
    letTipShow();
    EXPECT_EQ(view.callsStartingWith("showRoziTipWindow"),
              std::vector<std::string>{"showRoziTipWindow " + LocalizedText::text("STRING_ROZI_CHANGE_SPEAKER")});
    EXPECT_EQ(camera.receive(1, 500ms), std::vector<uint8_t>{kKeepAlive});
}

TEST_F(RoziRelayTest, ATakenPortLeavesTheSessionWithoutARelay)
{
    const int taken = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(taken, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    ASSERT_EQ(::getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length), 0);
    roziPort = ntohs(address.sin_port);

    testing::internal::CaptureStdout();
    makeController();
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("rozi server open fail...error="), std::string::npos) << log;
    EXPECT_EQ(port(), 0);
    // The session goes on, and the TV's relay messages find no client.
    connectTyped();
    enableRelay(true);
    ASSERT_TRUE(tv.send(kMsgCameraData, std::vector<uint8_t>(10, 1)));
    ASSERT_TRUE(tv.send(kMsgCameraError, TvSim::int32(-1)));
    settle();
    EXPECT_TRUE(state().ConnectWithTv);
    ::close(taken);
}

TEST(RoziRelayCapTest, AClientThatDoesNotReadIsHeldWithinItsCapByWholeMessages)
{
    constexpr size_t kCap = 1u << 20;
    constexpr size_t kMessage = 64u << 10;
    constexpr size_t kMessages = 320; // 20 MiB
    const auto relay = RoziRelay::create({.send = [](uint16_t) {}, .showTip = [](std::string) {}, .writeCap = kCap});
    ASSERT_TRUE(relay->enableServer("127.0.0.1", 0));
    RelayTestClient mic(relay->serverPort());
    ASSERT_TRUE(mic.name(RoziRelay::kMicName));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!relay->status().isMicConnect && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);

    testing::internal::CaptureStdout();
    std::vector<uint8_t> sent;
    for (uint64_t i = 0; i < kMessages; ++i) {
        const std::vector<uint8_t> message = TvRelayFeed::patternMessage(i, kMessage);
        relay->handleMicDataToDecode(message.data(), static_cast<int>(message.size()));
        sent.insert(sent.end(), message.begin(), message.end());
    }
    relay->status();
    const std::string log = testing::internal::GetCapturedStdout();

    // What was held reaches the client: whole messages in order, far fewer than were sent. A stall is
    // logged once, not once per message dropped.
    const std::vector<uint8_t> received = mic.receiveFor(1'500ms);
    EXPECT_LT(received.size(), sent.size() / 2);
    ASSERT_EQ(received.size() % kMessage, 0u);
    uint64_t next = 0;
    for (size_t at = 0; at < received.size(); at += kMessage, ++next) {
        const std::vector<uint8_t> message(received.begin() + at, received.begin() + at + kMessage);
        while (next < kMessages && message != TvRelayFeed::patternMessage(next, kMessage))
            ++next;
        ASSERT_LT(next, kMessages) << "message at " << at << " is none sent, or out of order";
    }
    size_t lines = 0;
    for (size_t at = log.find("does not read"); at != std::string::npos; at = log.find("does not read", at + 1))
        ++lines;
    EXPECT_GE(lines, 1u);
    EXPECT_LT(lines * 10, kMessages - received.size() / kMessage) << log;

    // Read out, the client takes the TV's bytes again.
    const std::vector<uint8_t> more = TvRelayFeed::patternMessage(kMessages, 100);
    relay->handleMicDataToDecode(more.data(), static_cast<int>(more.size()));
    EXPECT_EQ(mic.receive(more.size()), more);
    relay->shutdown();
}

// The TV's camera stream through the relay to the relay-client command, as the virtual camera takes it.
class RelayClientCommandTest : public RoziRelayTest {
protected:
    void SetUp() override
    {
        tv.setLinkObserver([this](bool up, const std::string&) {
            if (up)
                feed.onLinkUp();
        });
        tv.setMessageObserver([this](const ReceivedMessage& message) { feed.onMessage(message); });
        RoziRelayTest::SetUp();
    }
    // The peer stops before the feed its threads call.
    void TearDown() override
    {
        RoziRelayTest::TearDown();
        tv.stop();
        feed.stop();
    }

    static TvRelayFeed::Options cameraFor10s()
    {
        TvRelayFeed::Options options;
        options.camera.stream = TvRelayFeed::Stream{.messageBytes = 4096, .messagesPerSecond = 30, .duration = 10s};
        return options;
    }

    TvRelayFeed feed{tv, cameraFor10s()};
};

TEST_F(RelayClientCommandTest, TheFileHoldsExactlyTheTvsCameraBytes)
{
    makeController();
    connectTyped();
    ASSERT_TRUE(waitForStatus([](const RoziRelay::Status& s) { return s.roziFlag; }));
    // A name of this process's own: another run of the suite may be writing its file at once.
    const std::filesystem::path file =
        std::filesystem::path(testing::TempDir()) / ("relay-client-camera-" + std::to_string(::getpid()) + ".bin");
    ChildProcess client({RELAY_CLIENT_PATH, "camera", "--port", std::to_string(port()), "--seconds", "14", "--out",
                         file.string()});
    ASSERT_EQ(client.line(), "connected 127.0.0.1:" + std::to_string(port()) + " as camera");
    const auto sent = feed.waitForSent(true, 20s);
    ASSERT_TRUE(sent.has_value());
    EXPECT_GT(sent->messages, 200u);
    std::string last;
    while (const auto line = client.line(20s))
        last = *line;
    EXPECT_EQ(client.wait(), 0);
    EXPECT_EQ(last, "done bytes=" + std::to_string(sent->bytes) + " reason=time");
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(bytes.size(), sent->bytes);
    EXPECT_EQ(PayloadDigest::sha256Hex(bytes), sent->sha256);
    std::filesystem::remove(file);
}

} // namespace

#include "Socket/TcpClientTestSupport.h"

#include "Socket/ClientInfoRecord.h"
#include "Socket/HeartbeatPayload.h"
#include "Socket/LinkEndReason.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/ReceiveList.h"
#include "Socket/SendLists.h"
#include "Socket/TcpLinkSocket.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <netinet/tcp.h>

#include <optional>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace {

using TvFixture = TvLinkFixture;

TEST(TcpClientTest, FailedOrNoConnectionRefusesToSendAndRaisesNothing)
{
    EventRecorder events;
    TcpClient client(&events.info, quickTiming());
    const uint8_t byte = 1;
    EXPECT_EQ(client.send(kMsgKeyDown, &byte, 1), -1);
    client.disconnect(1);
    EXPECT_EQ(client.peerAddress(), "0.0.0.0");
    EXPECT_FALSE(client.isConnectedTo("127.0.0.1"));
    RefusingPort refusing;
    for (const char* host : {"127.0.0.1", "localhost", "::1", "127.0.0", "127.0.0.1 ", "", "256.0.0.1"})
        EXPECT_FALSE(client.connect(host, refusing.port())) << host;
    EXPECT_EQ(client.send(kMsgCastStop, nullptr, 0), -1);
    EXPECT_TRUE(events.events().empty());
}

TEST_F(TvFixture, ConnectReportsThePeerAndSendsInOrder)
{
    ASSERT_TRUE(events.waitFor(kMsgConnected));
    EXPECT_EQ(events.events(kMsgConnected)[0].text, "127.0.0.1:" + std::to_string(tv.port()));
    EXPECT_TRUE(client.isConnectedTo("127.0.0.1"));
    EXPECT_FALSE(client.isConnectedTo("127.0.0.2"));
    EXPECT_EQ(client.peerAddress(), "127.0.0.1");
    EXPECT_FALSE(client.connect("127.0.0.1", tv.port())) << "a second connect while one is open";

    const auto big = patternBytes(65'537, 3);
    EXPECT_EQ(client.send(kMsgKeyDown, big.data(), static_cast<int>(big.size())), 65'537);
    EXPECT_EQ(client.send(kMsgCastAudioFormat, nullptr, 0), 0);
    ASSERT_TRUE(tv.waitForMessages(2));
    const auto received = tv.received();
    EXPECT_EQ(received[0].type, kMsgKeyDown);
    EXPECT_EQ(received[0].sequence, 0u);
    EXPECT_EQ(received[0].payload, big);
    EXPECT_EQ(received[1].type, kMsgCastAudioFormat);
    EXPECT_EQ(received[1].sequence, 1u);
    EXPECT_EQ(received[1].length, 0u);

    client.disconnect(1);
    ASSERT_EQ(events.count(kMsgDisconnected), 1u);
    EXPECT_EQ(events.events(kMsgDisconnected)[0].text, "1");
    EXPECT_EQ(linkEndReasonOf(events.events(kMsgDisconnected)[0].data), LinkEndReason::Released);
    EXPECT_EQ(client.peerAddress(), "0.0.0.0");
    EXPECT_EQ(client.send(kMsgKeyDown, big.data(), 4), -1);
    EXPECT_TRUE(tv.waitForDisconnect());
}

TEST_F(TvFixture, RefusesPayloadsThatCannotTravel)
{
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 5), -1);
    // 255 fragments of 65,536 bytes is the most one message can carry.
    std::vector<uint8_t> huge(255 * 65'536 + 1);
    EXPECT_EQ(client.send(kMsgKeyDown, huge.data(), static_cast<int>(huge.size())), -1);
    EXPECT_EQ(client.send(kMsgKeyDown, huge.data(), -3), -1) << "refused, never read as a link that closed";
    syncWithReceiveThread();
    EXPECT_EQ(tv.receivedCount(), 0u);
}

TEST(TcpClientTest, AnswersHeartbeatsAndBeats)
{
    TvSim::Options options;
    options.heartbeatInterval = 20ms;
    options.status = HeartbeatPayload::kStatusWantsClientInfo;
    TvSim tv(options);
    ASSERT_TRUE(tv.start());
    EventRecorder events;
    TcpClient::Timing timing = quickTiming();
    timing.heartbeatInterval = 20ms;
    TcpClient client(&events.info, timing);
    ASSERT_TRUE(client.connect("127.0.0.1", tv.port()));

    // The TV's answers ask for the client information again.
    ASSERT_TRUE(events.waitFor(kMsgClientInfoRequest));
    ASSERT_TRUE(tv.waitUntil([](const std::vector<ReceivedMessage>& messages) {
        return std::count_if(messages.begin(), messages.end(), [](const ReceivedMessage& message) {
                   return message.type == kMsgHeartbeat && !HeartbeatPayload::decode(message.payload).isRequest();
               }) >= 3;
    }));
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgHeartbeat, 6));
    client.disconnect(1);
    std::vector<uint32_t> requests;
    for (const ReceivedMessage& message : tv.received(kMsgHeartbeat)) {
        const auto beat = HeartbeatPayload::decode(message.payload);
        EXPECT_EQ(message.length, HeartbeatPayload::kSize);
        if (beat.isRequest()) {
            requests.push_back(beat.sequence);
        } else {
            EXPECT_EQ(beat.echo, beat.sequence) << "an answer carries the request's sequence";
            EXPECT_NE(beat.sequence, 0u);
        }
    }
    ASSERT_GE(requests.size(), 2u);
    for (size_t i = 0; i < requests.size(); ++i)
        EXPECT_EQ(requests[i], 2 + i) << "the client's beats count from 2";
    EXPECT_TRUE(events.events(kMsgHeartbeat).empty()) << "heartbeats stay in the transport";
}

TEST_F(TvFixture, OurAnswersSayTheTvAskedForItsClientInformationUntilItComes)
{
    // The status of our answer to the TV's request with that sequence.
    const auto answerStatus = [&](uint32_t sequence) -> std::optional<uint32_t> {
        std::optional<uint32_t> status;
        if (!tv.send(kMsgHeartbeat, HeartbeatPayload{.sequence = sequence}.encode()))
            return status;
        tv.waitUntil([&](const std::vector<ReceivedMessage>& messages) {
            for (const ReceivedMessage& message : messages) {
                const auto beat = HeartbeatPayload::decode(message.payload);
                if (message.type == kMsgHeartbeat && beat.echo == sequence)
                    status = beat.status;
            }
            return status.has_value();
        });
        return status;
    };
    EXPECT_EQ(answerStatus(5), 0u);
    // The TV's answer to one of our beats asks for the client information.
    ASSERT_TRUE(tv.send(kMsgHeartbeat, HeartbeatPayload{.sequence = 2, .echo = 2, .status = 1}.encode()));
    ASSERT_TRUE(events.waitFor(kMsgClientInfoRequest));
    EXPECT_EQ(answerStatus(6), HeartbeatPayload::kStatusWantsClientInfo);
    ASSERT_TRUE(tv.send(kMsgClientInfo, ClientInfoRecord{.osVersion = "1.2.3", .deviceName = "Living room"}.encode()));
    EXPECT_EQ(answerStatus(7), 0u);
}

TEST_F(TvFixture, LeavesHeartbeatRequestsWithSequenceZeroUnanswered)
{
    // Its answer would echo 0 and read as a request again.
    ASSERT_TRUE(tv.send(kMsgHeartbeat, HeartbeatPayload{.sequence = 0, .status = 1}.encode()));
    ASSERT_TRUE(tv.send(kMsgHeartbeat, HeartbeatPayload{.sequence = 7}.encode()));
    // Answers leave in order: once the second is in, the first would have been too.
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgHeartbeat, 1));
    syncWithReceiveThread();
    const auto answers = tv.received(kMsgHeartbeat);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(HeartbeatPayload::decode(answers[0].payload).echo, 7u);
    EXPECT_TRUE(events.events(kMsgClientInfoRequest).empty());
}

TEST_F(TvFixture, AnswersNetworkEchoRequests)
{
    const auto id = tv.sendEchoRequest();
    ASSERT_TRUE(id);
    const auto answer = tv.waitForMessage(kMsgNetworkEcho);
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->length, NetworkEchoPayload::kSize);
    const auto echo = NetworkEchoPayload::decode(answer->payload);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->id, 0u);
    EXPECT_EQ(echo->echo, *id);
    EXPECT_NE(echo->timeA, 0u);
    EXPECT_EQ(echo->timeA, echo->timeB);

    // An answer is only logged; a short echo is dropped.
    ASSERT_TRUE(tv.send(kMsgNetworkEcho, NetworkEchoPayload{.id = 0, .echo = 9, .timeA = 1, .timeB = 2}.encode()));
    ASSERT_TRUE(tv.send(kMsgNetworkEcho, std::vector<uint8_t>(31)));
    syncWithReceiveThread();
    EXPECT_EQ(tv.receivedCount(kMsgNetworkEcho), 1u);
    EXPECT_TRUE(events.events(kMsgNetworkEcho).empty());
}

TEST_F(TvFixture, RaisesIdentitiesAndPassesOtherMessagesOnWithTheirPayload)
{
    ASSERT_TRUE(tv.send(kMsgPeerIdentity, TvMessages::text("tv-7")));
    ASSERT_TRUE(tv.send(kMsgClientInfo, ClientInfoRecord{.osVersion = "1.2.3", .deviceName = "Living room"}.encode()));
    ASSERT_TRUE(tv.send(kMsgClientInfo, std::vector<uint8_t>(100))) << "too short to hold a name";
    ASSERT_TRUE(tv.send(kMsgTvScreenStop));
    ASSERT_TRUE(tv.send(kMsgClientList, TvMessages::text("[{\"name\":\"a\"}]")));
    ASSERT_TRUE(tv.send(0x7777, TvMessages::text("unknown")));
    ASSERT_TRUE(tv.send(kMsgAudioFrame, TvMessages::text("audio is not played")));
    ASSERT_TRUE(tv.send(kMsgUdpResendRange, std::vector<uint8_t>(20))) << "no channel: ignored";
    ASSERT_TRUE(tv.send(kMsgDisconnected, TvMessages::text("1"))) << "the transport's own event: never from the wire";
    ASSERT_TRUE(tv.send(kMsgConnected));
    syncWithReceiveThread();
    EXPECT_TRUE(events.events(kMsgDisconnected).empty());
    EXPECT_EQ(events.count(kMsgConnected), 1u);
    EXPECT_TRUE(events.events(kMsgClientInfo).empty());
    const auto identities = events.events(kMsgPeerIdentity);
    ASSERT_EQ(identities.size(), 2u);
    EXPECT_EQ(identities[0].text, "tv-7");
    EXPECT_FALSE(identities[0].hasData);
    EXPECT_EQ(identities[1].text, "Living room");

    std::vector<ClientEvent> passed;
    for (const ClientEvent& event : events.events()) {
        if (event.type != kMsgConnected && event.type != kMsgScreenCode && event.type != kMsgPeerIdentity)
            passed.push_back(event);
    }
    ASSERT_EQ(passed.size(), 3u);
    EXPECT_EQ(passed[0].type, kMsgTvScreenStop);
    EXPECT_EQ(passed[0].length, 0u);
    EXPECT_TRUE(passed[0].hasData) << "an empty payload still reads as an empty text";
    EXPECT_EQ(passed[1].type, kMsgClientList);
    EXPECT_EQ(std::string(passed[1].data.begin(), passed[1].data.end()), "[{\"name\":\"a\"}]");
    EXPECT_EQ(passed[1].timeStamp, 0u);
    EXPECT_FALSE(passed[1].text);
    EXPECT_EQ(passed[2].type, 0x7777);
}

TEST_F(TvFixture, DeliversVideoFramesAsOwnCopiesUpToTheCap)
{
    const auto first = patternBytes(100'000, 1);
    const auto largest = patternBytes(TcpClient::kMaxVideoFrame, 2);
    ASSERT_TRUE(tv.send(kMsgVideoFrame, first));
    ASSERT_TRUE(tv.send(kMsgVideoFrame, patternBytes(TcpClient::kMaxVideoFrame + 1, 3))) << "dropped";
    ASSERT_TRUE(tv.send(kMsgVideoFrame, largest));
    ASSERT_TRUE(events.waitFor(kMsgVideoFrame, 2));
    syncWithReceiveThread();
    const auto frames = events.events(kMsgVideoFrame);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data, first);
    EXPECT_NE(frames[0].timeStamp, 0u) << "the sender's stamp";
    EXPECT_EQ(frames[1].data, largest);
    EXPECT_EQ(frames[1].length, TcpClient::kMaxVideoFrame);
}

TEST_F(TvFixture, DropsVideoFramesBeyondFifteenWaiting)
{
    // The first frame holds the delivery thread inside the listener until the rest have arrived.
    Gate release;
    events.setHook([&](TcpClient&, const ClientEvent& event) {
        if (event.type == kMsgVideoFrame && payloadIndex(event.data) == 0)
            release.wait();
    });
    // Opened on every way out, so the client's threads can end.
    const std::shared_ptr<void> opener(nullptr, [&](void*) { release.open(); });
    ASSERT_TRUE(tv.send(kMsgVideoFrame, indexPayload(0, 1'000)));
    ASSERT_TRUE(events.waitFor(kMsgVideoFrame, 1));
    for (uint32_t i = 1; i <= ReceiveList::kCapacity + 5; ++i)
        ASSERT_TRUE(tv.send(kMsgVideoFrame, indexPayload(i, 1'000)));
    syncWithReceiveThread();
    release.open();
    // The one in the listener and fifteen waiting; the last five were dropped.
    ASSERT_TRUE(events.waitFor(kMsgVideoFrame, ReceiveList::kCapacity + 1));
    client.disconnect(1);
    const auto frames = events.events(kMsgVideoFrame);
    ASSERT_EQ(frames.size(), ReceiveList::kCapacity + 1);
    for (uint32_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(payloadIndex(frames[i].data), i);
}

TEST(TcpClientTest, SilentPeerEndsTheLinkOnce)
{
    RawPeer peer;
    EventRecorder events;
    TcpClient::Timing timing = quickTiming();
    timing.receiveTimeout = 20ms;
    timing.receiveTimeouts = 3;
    TcpClient client(&events.info, timing);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(peer.accept());
    ASSERT_TRUE(events.waitFor(kMsgDisconnected));
    EXPECT_FALSE(events.events(kMsgDisconnected)[0].text) << "not ended by a disconnect";
    EXPECT_EQ(linkEndReasonOf(events.events(kMsgDisconnected)[0].data), LinkEndReason::NetworkLost);
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1) << "the link has ended";
    EXPECT_EQ(client.peerAddress(), "127.0.0.1") << "the socket stays open until disconnect";
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgDisconnected), 1u);
    EXPECT_EQ(client.peerAddress(), "0.0.0.0");
    EXPECT_TRUE(peer.readToEnd());
}

// A client whose send thread is held inside an 8 MB message that a raw peer does not read, so the
// test fills the send lists at leisure.
struct HeldBackFixture : testing::Test {
    static constexpr uint32_t kBlockerIndex = 0xB10C;

    void SetUp() override
    {
        ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
        ASSERT_TRUE(peer.accept());
        const auto blocker = indexPayload(kBlockerIndex, 8 << 20);
        ASSERT_EQ(client.send(kMsgFilePush, blocker.data(), static_cast<int>(blocker.size())),
                  static_cast<int>(blocker.size()));
        // Its first bytes have arrived: the send thread has taken it and can't finish it.
        ASSERT_TRUE(peer.readBytes(TransportFrameHeader::kSize));
    }

    // Sends count messages indexed from firstIndex, each expected to return result.
    void sendIndexed(uint16_t type, uint32_t count, uint32_t firstIndex = 0, int result = 16)
    {
        for (uint32_t i = firstIndex; i < firstIndex + count; ++i) {
            const auto payload = indexPayload(i);
            ASSERT_EQ(client.send(type, payload.data(), static_cast<int>(payload.size())), result) << "index " << i;
        }
    }

    // Fills the list of type to its cap; the next messages are dropped.
    void overfill(uint16_t type, uint32_t capacity)
    {
        sendIndexed(type, capacity);
        sendIndexed(type, 10, capacity, TcpClient::kDropped);
    }

    // The messages after the blocker, as (type, index).
    std::vector<std::pair<uint16_t, uint32_t>> readAfterBlocker(size_t count)
    {
        EXPECT_TRUE(peer.readMessages(count + 1));
        std::vector<std::pair<uint16_t, uint32_t>> order;
        const auto& messages = peer.messages();
        EXPECT_EQ(messages.front().header.type, kMsgFilePush);
        for (size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(messages[i].header.sequence, i) << "one sequence number per message, from 0";
            if (i > 0)
                order.emplace_back(messages[i].header.type, payloadIndex(messages[i].payload));
        }
        return order;
    }

    RawPeer peer{16'384};
    EventRecorder events;
    TcpClient client{&events.info, quickTiming()};
};

TEST_F(HeldBackFixture, ServesControlThenAudioThenVideoWithinTheCaps)
{
    overfill(kMsgVideoFrame, SendLists::kVideoCapacity);
    overfill(kMsgAudioFrame, SendLists::kAudioCapacity);
    overfill(kMsgKeyDown, SendLists::kOtherCapacity);
    // A key-exchange answer is never dropped for a full list, and overtakes every waiting message.
    sendIndexed(kMsgNoEncryption, 1, 0);
    sendIndexed(kMsgSessionKey, 1, 1);

    std::vector<std::pair<uint16_t, uint32_t>> expected{{kMsgNoEncryption, 0}, {kMsgSessionKey, 1}};
    for (uint32_t i = 0; i < SendLists::kOtherCapacity; ++i)
        expected.emplace_back(kMsgKeyDown, i);
    for (uint32_t i = 0; i < SendLists::kAudioCapacity; ++i)
        expected.emplace_back(kMsgAudioFrame, i);
    for (uint32_t i = 0; i < SendLists::kVideoCapacity; ++i)
        expected.emplace_back(kMsgVideoFrame, i);
    EXPECT_EQ(readAfterBlocker(expected.size()), expected);

    client.disconnect(1);
    EXPECT_TRUE(peer.readToEnd());
    EXPECT_EQ(peer.messages().size(), expected.size() + 1) << "nothing beyond the caps was queued";
}

class MediaClearedByTv : public HeldBackFixture, public testing::WithParamInterface<uint16_t> {};

TEST_P(MediaClearedByTv, KeepsOnlyControlMessages)
{
    sendIndexed(kMsgVideoFrame, 5);
    sendIndexed(kMsgAudioFrame, 5);
    sendIndexed(kMsgKeyDown, 3);
    ASSERT_TRUE(peer.send(GetParam(), std::vector<uint8_t>(8)));
    ASSERT_TRUE(events.waitFor(GetParam())) << "passed on after the lists were emptied";
    sendIndexed(kMsgVideoFrame, 1, 100);

    const std::vector<std::pair<uint16_t, uint32_t>> expected = {
        {kMsgKeyDown, 0}, {kMsgKeyDown, 1}, {kMsgKeyDown, 2}, {kMsgVideoFrame, 100}};
    EXPECT_EQ(readAfterBlocker(expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(TcpClientTest, MediaClearedByTv,
                         testing::Values(kMsgCastStop, kMsgTvScreenResolution, kMsgCastVideoFormat));

TEST_F(HeldBackFixture, ReconnectStartsOverWithNothingStale)
{
    sendIndexed(kMsgKeyDown, 5, 1'000);
    client.disconnect(1);

    RawPeer second;
    ASSERT_TRUE(client.connect("127.0.0.1", second.port()));
    ASSERT_TRUE(second.accept());
    sendIndexed(kMsgKeyUp, 1, 7);
    ASSERT_TRUE(second.readMessages(1));
    client.disconnect(1);
    EXPECT_TRUE(second.readToEnd());
    ASSERT_EQ(second.messages().size(), 1u);
    EXPECT_EQ(second.messages()[0].header.sequence, 0u);
    EXPECT_EQ(second.messages()[0].header.type, kMsgKeyUp);
    EXPECT_EQ(payloadIndex(second.messages()[0].payload), 7u);

    EXPECT_TRUE(peer.readToEnd());
    EXPECT_TRUE(peer.messages().empty()) << "the unfinished message and the queued ones are gone";
}

TEST_F(HeldBackFixture, PeerThatNeverReadsDoesNotHoldUpDisconnect)
{
    sendIndexed(kMsgKeyDown, 10);
    sendIndexed(kMsgVideoFrame, 10);
    // The send thread waits on a full socket with an hour's time-out: only the shutdown frees it.
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgDisconnected), 1u);
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);
}

TEST(TcpClientTest, WritingToAClosedPeerRaisesNoSignal)
{
    struct sigaction pipeBefore {}, interruptBefore {};
    ::sigaction(SIGPIPE, nullptr, &pipeBefore);
    ::sigaction(SIGINT, nullptr, &interruptBefore);
    RawPeer peer;
    EventRecorder events;
    TcpClient client(&events.info, quickTiming());
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(peer.accept());
    const auto payload = patternBytes(100'000, 9);
    ASSERT_EQ(client.send(kMsgFilePush, payload.data(), static_cast<int>(payload.size())), 100'000);
    peer.closeConnection();
    // Until the link ends the writes go on meeting a reset or a broken pipe; the process lives on.
    while (client.send(kMsgFilePush, payload.data(), static_cast<int>(payload.size())) > 0 &&
           !events.waitFor(kMsgDisconnected, 1, 1ms)) {
    }
    ASSERT_TRUE(events.waitFor(kMsgDisconnected));
    EXPECT_EQ(linkEndReasonOf(events.events(kMsgDisconnected)[0].data), LinkEndReason::TvClosed);

    struct sigaction pipeAfter {}, interruptAfter {};
    ::sigaction(SIGPIPE, nullptr, &pipeAfter);
    ::sigaction(SIGINT, nullptr, &interruptAfter);
    EXPECT_EQ(pipeAfter.sa_handler, pipeBefore.sa_handler) << "the library installs no signal handler";
    EXPECT_EQ(interruptAfter.sa_handler, interruptBefore.sa_handler);
}

TEST(TcpClientTest, WriteTimeOutNeverLeavesTheStreamUnframed)
{
    RawPeer peer(16'384);
    EventRecorder events;
    TcpClient::Timing timing = quickTiming();
    timing.sendTimeout = 300ms;
    TcpClient client(&events.info, timing);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(peer.accept());
    const auto blocker = patternBytes(8 << 20, 5);
    client.send(kMsgFilePush, blocker.data(), static_cast<int>(blocker.size()));
    ASSERT_TRUE(peer.readBytes(TransportFrameHeader::kSize));

    if (events.waitFor(kMsgDisconnected, 1, 10'000ms)) {
        // Stopped inside a fragment: the client closed the link rather than write behind it.
        EXPECT_EQ(linkEndReasonOf(events.events(kMsgDisconnected)[0].data), LinkEndReason::NetworkLost);
        EXPECT_TRUE(peer.readToEnd());
        EXPECT_TRUE(peer.messages().empty());
        return;
    }
    // Stopped between fragments: the message was abandoned and the next one is framed.
    const auto marker = indexPayload(42);
    EXPECT_EQ(client.send(kMsgKeyDown, marker.data(), static_cast<int>(marker.size())), 16);
    ASSERT_TRUE(peer.readMessages(1));
    EXPECT_EQ(peer.messages()[0].header.type, kMsgKeyDown);
    EXPECT_EQ(peer.messages()[0].header.sequence, 1u);
    EXPECT_EQ(peer.messages()[0].payload, marker);
}

TEST(TcpClientTest, ShortWriteGoesOnWithTheRestOfItsFragment)
{
    // The peer reads nothing for longer than the send time-out: the write under way when the
    // buffers fill returns short, in the middle of a fragment, and the next write must carry on
    // exactly there, whichever of header and payload it stopped in.
    RawPeer peer(16'384);
    EventRecorder events;
    TcpClient::Timing timing = quickTiming();
    timing.sendTimeout = 1'000ms;
    TcpClient client(&events.info, timing);
    ASSERT_TRUE(client.connect("127.0.0.1", peer.port()));
    ASSERT_TRUE(peer.accept());
    const auto first = patternBytes(2 << 20, 3);
    const auto second = patternBytes((2 << 20) + 5, 4);
    ASSERT_EQ(client.send(kMsgFilePush, first.data(), static_cast<int>(first.size())), 2 << 20);
    ASSERT_EQ(client.send(kMsgFilePush, second.data(), static_cast<int>(second.size())), (2 << 20) + 5);
    std::this_thread::sleep_for(1'500ms);

    ASSERT_TRUE(peer.readMessages(2));
    EXPECT_EQ(peer.messages()[0].payload, first);
    EXPECT_EQ(peer.messages()[1].payload, second);
    EXPECT_EQ(events.count(kMsgDisconnected), 0u);
}

TEST(TcpClientTest, LinkSendsWithoutNaglesWait)
{
    // With Nagle's wait the short tail of every frame above one segment waits for the TV's delayed
    // acknowledgement, tens of milliseconds a frame.
    RawPeer peer;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(peer.port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_TRUE(TcpLinkSocket::connect(fd, address, 5'000ms, 5'000ms));
    int noDelay = 0;
    socklen_t length = sizeof noDelay;
    ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
    EXPECT_NE(noDelay, 0);
    ::close(fd);
}

} // namespace

#include "RawLink.h"

#include "Socket/HeartbeatPayload.h"
#include "Socket/MessageType.h"
#include "Socket/NetworkEchoPayload.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendFragmentsPayload.h"
#include "Socket/UdpResendRangePayload.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> pattern(size_t length, uint8_t seed)
{
    std::vector<uint8_t> bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + seed + (i >> 16));
    return bytes;
}

// A peer that only speaks when spoken to, and the client's end of its link.
struct Linked : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(sim.start());
        client.emplace(sim.port());
        ASSERT_TRUE(client->connected());
        ASSERT_TRUE(sim.waitForConnection());
    }

    TvSim sim{{.heartbeatInterval = TvSim::Timeout(0)}};
    std::optional<RawLink> client;
};

TEST_F(Linked, RecordsAFragmentedMegabyteMessageWithItsDigest)
{
    const auto payload = pattern(1 << 20, 7);
    ASSERT_TRUE(client->sendMessage(9, kMsgVideoFrame, 1'700'000'000'123'456, payload));
    ASSERT_TRUE(client->sendMessage(10, kMsgCastStop, 1'700'000'000'200'000, {}));

    ASSERT_TRUE(sim.waitForMessages(2));
    const auto messages = sim.received();
    ASSERT_EQ(messages.size(), 2u);
    const auto& frame = messages[0];
    EXPECT_EQ(frame.road, ReceivedMessage::Road::Tcp);
    EXPECT_EQ(frame.type, kMsgVideoFrame);
    EXPECT_EQ(frame.sequence, 9u);
    EXPECT_EQ(frame.timeStamp, 1'700'000'000'123'456u);
    EXPECT_EQ(frame.length, payload.size());
    // SHA-256 of the pattern, from an independent implementation (Python's hashlib).
    EXPECT_EQ(frame.sha256, "130500321e59e451f9774a513b704497300e227d09dced721dc144db9b562b98");
    EXPECT_EQ(frame.payload, payload);
    EXPECT_EQ(messages[1].type, kMsgCastStop);
    EXPECT_EQ(messages[1].length, 0u);
    EXPECT_EQ(messages[1].sha256, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(TvSimTest, CountsPerTypeAndSkipsDigestsWhenToldTo)
{
    TvSim sim{{.heartbeatInterval = TvSim::Timeout(0), .digestPayloads = false}};
    ASSERT_TRUE(sim.start());
    RawLink client(sim.port());
    ASSERT_TRUE(sim.waitForConnection());
    for (uint32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(client.sendMessage(i, kMsgVideoFrame, 1, pattern(100, 1)));
    ASSERT_TRUE(client.sendMessage(3, kMsgCastStop, 1, {}));

    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgVideoFrame, 3));
    ASSERT_TRUE(sim.waitForMessages(4));
    EXPECT_EQ(sim.receivedCount(kMsgVideoFrame), 3u);
    EXPECT_EQ(sim.receivedCount(kMsgCastStop), 1u);
    EXPECT_EQ(sim.receivedCount(kMsgAudioFrame), 0u);
    EXPECT_TRUE(sim.received(kMsgVideoFrame)[0].sha256.empty());

    sim.clearReceived();
    EXPECT_EQ(sim.receivedCount(kMsgVideoFrame), 0u);
    ASSERT_TRUE(client.sendMessage(4, kMsgVideoFrame, 1, {}));
    EXPECT_TRUE(sim.waitForMessagesOfType(kMsgVideoFrame, 1));
    EXPECT_EQ(sim.receivedCount(), 1u);
}

TEST_F(Linked, AnswersHeartbeatRequestsWithTheirSequenceAndItsStatus)
{
    sim.setStatus(HeartbeatPayload::kStatusWantsClientInfo);
    ASSERT_TRUE(client->sendMessage(0, kMsgHeartbeat, 1, HeartbeatPayload{.sequence = 42}.encode()));

    const auto answer = client->readFrame(kMsgHeartbeat);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->header.sequence, 0u); // the first message the peer sent on this link
    const auto beat = HeartbeatPayload::decode(answer->payload);
    EXPECT_EQ(beat.sequence, 42u);
    EXPECT_EQ(beat.echo, 42u);
    EXPECT_EQ(beat.status, 1u);
    const auto recorded = sim.waitForMessage(kMsgHeartbeat);
    ASSERT_TRUE(recorded);
    EXPECT_EQ(recorded->length, 16u);
}

TEST_F(Linked, BeatsWithRequestsCountingFromOne)
{
    sim.setHeartbeatInterval(TvSim::Timeout(10));
    for (uint32_t expected = 1; expected <= 2; ++expected) {
        const auto request = client->readFrame(kMsgHeartbeat);
        ASSERT_TRUE(request);
        const auto beat = HeartbeatPayload::decode(request->payload);
        EXPECT_EQ(request->payload.size(), 16u);
        EXPECT_EQ(beat.sequence, expected);
        EXPECT_TRUE(beat.isRequest());
    }
}

TEST_F(Linked, AnswersEchoRequestsAndSendsItsOwn)
{
    const NetworkEchoPayload request{.id = 5, .echo = 0, .timeA = 111, .timeB = 222};
    ASSERT_TRUE(client->sendMessage(0, kMsgNetworkEcho, 1, request.encode()));
    const auto answer = client->readFrame(kMsgNetworkEcho);
    ASSERT_TRUE(answer);
    const auto echo = NetworkEchoPayload::decode(answer->payload);
    ASSERT_TRUE(echo);
    EXPECT_EQ(echo->id, 0u);
    EXPECT_EQ(echo->echo, 5u);
    EXPECT_EQ(echo->timeA, 111u);
    EXPECT_EQ(echo->timeB, 222u);

    const auto id = sim.sendEchoRequest();
    ASSERT_TRUE(id);
    const auto own = client->readFrame(kMsgNetworkEcho);
    ASSERT_TRUE(own);
    const auto ownEcho = NetworkEchoPayload::decode(own->payload);
    ASSERT_TRUE(ownEcho);
    EXPECT_EQ(ownEcho->id, *id);
    EXPECT_TRUE(ownEcho->isRequest());
    EXPECT_NE(ownEcho->timeA, 0u);
}

TEST_F(Linked, APeerThatStopsReadingBacksUpTheClientAndLosesNothingWhenItReadsAgain)
{
    constexpr size_t kMessages = 256; // 16 MiB: more than both socket buffers hold
    sim.setReading(false);
    std::vector<uint8_t> stream;
    MessageFragmenter fragmenter;
    const auto payload = pattern(MessageFragmenter::kTcpFragmentSize, 1);
    for (uint32_t sequence = 0; sequence < kMessages; ++sequence)
        fragmenter.send(sequence, kMsgVideoFrame, 1, payload, [&](std::span<const uint8_t> fragment) {
            stream.insert(stream.end(), fragment.begin(), fragment.end());
            return true;
        });

    size_t written = 0;
    ssize_t sent;
    while (written < stream.size() && (sent = client->sendSome(std::span(stream).subspan(written))) > 0)
        written += static_cast<size_t>(sent);
    ASSERT_LT(written, stream.size());
    EXPECT_EQ(sim.receivedCount(), 0u);

    sim.setReading(true);
    ASSERT_TRUE(client->sendAll(std::span(stream).subspan(written)));
    ASSERT_TRUE(sim.waitForMessages(kMessages));
    const auto messages = sim.received();
    for (uint32_t sequence = 0; sequence < kMessages; ++sequence) {
        EXPECT_EQ(messages[sequence].sequence, sequence);
        EXPECT_EQ(messages[sequence].payload, payload);
    }
}

TEST_F(Linked, ANewLinkReplacesTheOldAndCloseEndsIt)
{
    RawLink second(sim.port());
    ASSERT_TRUE(second.connected());
    ASSERT_TRUE(sim.waitForConnection(TvSim::kDefaultTimeout, 2));
    EXPECT_TRUE(client->readsEnd());

    sim.closeLink();
    EXPECT_TRUE(second.readsEnd());
    EXPECT_TRUE(sim.waitForDisconnect());
    EXPECT_FALSE(sim.send(kMsgCastStop));
}

TEST_F(Linked, UdpMessageCompletesOnceTheDroppedFragmentIsResent)
{
    constexpr uint32_t kFragmentSize = 1'000;
    sim.udp().setDropFilter(UdpReceiver::dropOnce(kMsgVideoFrame, 3, 1));
    ASSERT_TRUE(sim.openUdpChannel(UdpChannelOpenPayload::kRouteVideo, kFragmentSize));
    const auto openFrame = client->readFrame(kMsgUdpChannelOpen);
    ASSERT_TRUE(openFrame);
    const auto open = UdpChannelOpenPayload::decode(openFrame->payload);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->port, sim.udp().port());
    EXPECT_EQ(open->fragmentSize, kFragmentSize);
    EXPECT_EQ(open->routeMask, UdpChannelOpenPayload::kRouteVideo);

    RawLink udp(sim.udp().port(), SOCK_DGRAM);
    const auto udpFragments = *MessageFragmenter::withFragmentSize(kFragmentSize);
    const auto frame = pattern(2'500, 3); // three datagrams: 1,000 + 1,000 + 500
    ASSERT_TRUE(udp.sendMessage(3, kMsgVideoFrame, 77, frame, udpFragments));
    // Datagrams on loopback keep their order: once message 4 is in, message 3 has had its chance.
    ASSERT_TRUE(udp.sendMessage(4, kMsgVideoFrame, 78, pattern(10, 4), udpFragments));
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgVideoFrame, 1));
    EXPECT_EQ(sim.received(kMsgVideoFrame)[0].sequence, 4u);
    EXPECT_EQ(sim.udp().stats().dropped, 1u);

    const uint32_t secondFragment[] = {0b10};
    ASSERT_TRUE(sim.requestFragments(kMsgVideoFrame, 3, secondFragment));
    const auto requestFrame = client->readFrame(kMsgUdpResendFragments);
    ASSERT_TRUE(requestFrame);
    const auto request = UdpResendFragmentsPayload::decode(requestFrame->payload);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->streamType, kMsgVideoFrame);
    EXPECT_EQ(request->messageId, 3u);
    ASSERT_EQ(request->bitmap, std::vector<uint32_t>{0b10});
    ASSERT_TRUE(udp.sendMessage(3, kMsgVideoFrame, 77, frame, udpFragments, request->bitmap));

    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgVideoFrame, 2));
    const auto resent = sim.received(kMsgVideoFrame)[1];
    EXPECT_EQ(resent.road, ReceivedMessage::Road::Udp);
    EXPECT_EQ(resent.sequence, 3u);
    EXPECT_EQ(resent.timeStamp, 77u);
    EXPECT_EQ(resent.sha256, "4ff76323be0565b8d73e72ad0e3c7ccd4f146156ff0d391ce7347d9be6549dbe");
    EXPECT_EQ(resent.payload, frame);

    ASSERT_TRUE(sim.requestRange(kMsgAudioFrame, 5, 7, UdpResendRangePayload::kThroughNewest));
    const auto rangeFrame = client->readFrame(kMsgUdpResendRange);
    ASSERT_TRUE(rangeFrame);
    EXPECT_EQ(rangeFrame->payload.size(), 20u);
    const auto range = UdpResendRangePayload::decode(rangeFrame->payload);
    ASSERT_TRUE(range);
    EXPECT_EQ(range->streamType, kMsgAudioFrame);
    EXPECT_EQ(range->firstId, 5u);
    EXPECT_EQ(range->endId, 7u);
    EXPECT_EQ(range->flags, UdpResendRangePayload::kThroughNewest);
}

} // namespace

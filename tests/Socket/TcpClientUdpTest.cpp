#include "Socket/TcpClientTestSupport.h"

#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/UdpResendRangePayload.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kFragmentSize = 1'000;

// A client linked to a quiet TV peer that opens the UDP side channel.
struct UdpFixture : TvLinkFixture {
    // Opens (or re-opens) the channel and waits until the client has taken the request.
    void openChannel(uint32_t routeMask, uint32_t fragmentSize = kFragmentSize)
    {
        ASSERT_TRUE(tv.openUdpChannel(routeMask, fragmentSize));
        syncWithReceiveThread();
    }

    std::vector<ReceivedMessage> receivedBy(ReceivedMessage::Road road)
    {
        auto messages = tv.received();
        std::erase_if(messages, [road](const ReceivedMessage& message) { return message.road != road; });
        return messages;
    }
};

TEST_F(UdpFixture, ResendsADroppedFragmentByBitmap)
{
    openChannel(UdpChannelOpenPayload::kRouteVideo);
    tv.udp().setDropFilter(UdpReceiver::dropOnce(kMsgVideoFrame, 0, 1));
    const auto frame = patternBytes(2'500, 7);
    EXPECT_EQ(send(kMsgVideoFrame, frame), 3 * 24 + 2'500) << "the bytes handed to the system";
    ASSERT_TRUE(eventually([this] { return tv.udp().stats().dropped == 1; }));
    EXPECT_EQ(tv.receivedCount(kMsgVideoFrame), 0u);

    const std::vector<uint32_t> secondFragment = {0x2};
    ASSERT_TRUE(tv.requestFragments(kMsgVideoFrame, 0, secondFragment));
    const auto video = tv.waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->road, ReceivedMessage::Road::Udp);
    EXPECT_EQ(video->sequence, 0u);
    EXPECT_EQ(video->payload, frame);
    EXPECT_EQ(tv.udp().stats().datagrams, 4u) << "only the asked fragment went again";
    EXPECT_TRUE(events.events(kMsgUdpResendFragments).empty()) << "kept by the transport";
}

TEST_F(UdpFixture, ResendsARangeAskedOverTcp)
{
    openChannel(UdpChannelOpenPayload::kRouteOther);
    for (uint32_t i = 0; i < 6; ++i)
        ASSERT_GT(send(kMsgKeyDown, indexPayload(i)), 0);
    ASSERT_TRUE(tv.waitForMessagesOfType(kMsgKeyDown, 6));
    tv.clearReceived();
    ASSERT_TRUE(tv.requestRange(kMsgKeyDown, 2, 0, UdpResendRangePayload::kThroughNewest));
    // One more message asked for after the range marks its end (loopback keeps datagram order).
    const std::vector<uint32_t> all = {0x1};
    ASSERT_TRUE(tv.requestFragments(kMsgKeyDown, 0, all));
    ASSERT_TRUE(tv.waitForMessages(5));
    std::vector<uint32_t> ids;
    for (const ReceivedMessage& message : tv.received()) {
        EXPECT_EQ(message.road, ReceivedMessage::Road::Udp);
        EXPECT_EQ(payloadIndex(message.payload), message.sequence);
        ids.push_back(message.sequence);
    }
    EXPECT_EQ(ids, (std::vector<uint32_t>{2, 3, 4, 5, 0}));
}

TEST_F(UdpFixture, RouteMaskDecidesTheRoadAndTheFirstChannelStays)
{
    openChannel(UdpChannelOpenPayload::kRouteVideo);
    const auto frame = patternBytes(2'500, 1);
    EXPECT_EQ(send(kMsgVideoFrame, frame), 3 * 24 + 2'500);
    EXPECT_EQ(send(kMsgAudioFrame, patternBytes(300, 2)), 300) << "not in the mask: TCP";
    ASSERT_TRUE(tv.waitForMessages(2));

    // Mask 0 sends everything over TCP again; the channel itself stays.
    openChannel(0, 500);
    EXPECT_EQ(send(kMsgVideoFrame, frame), 2'500);
    openChannel(UdpChannelOpenPayload::kRouteVideo | UdpChannelOpenPayload::kRouteOther, 500);
    EXPECT_EQ(send(kMsgVideoFrame, frame), 3 * 24 + 2'500) << "still the first channel's fragment size";
    ASSERT_TRUE(tv.waitForMessages(4));

    const auto udp = receivedBy(ReceivedMessage::Road::Udp);
    ASSERT_EQ(udp.size(), 2u);
    EXPECT_EQ(udp[0].sequence, 0u);
    EXPECT_EQ(udp[1].sequence, 1u) << "ids of a stream go on across the pause";
    const auto tcp = receivedBy(ReceivedMessage::Road::Tcp);
    ASSERT_EQ(tcp.size(), 2u);
    EXPECT_EQ(tcp[0].type, kMsgAudioFrame);
    EXPECT_EQ(tcp[1].type, kMsgVideoFrame);
    EXPECT_EQ(tcp[1].payload, frame);
}

TEST_F(UdpFixture, MessageTooLongForTheChannelGoesOverTcp)
{
    openChannel(UdpChannelOpenPayload::kRouteVideo, 100);
    const auto frame = patternBytes(255 * 100 + 1, 4);
    EXPECT_EQ(send(kMsgVideoFrame, frame), static_cast<int>(frame.size()));
    const auto video = tv.waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->road, ReceivedMessage::Road::Tcp);
    EXPECT_EQ(video->payload, frame);
}

TEST_F(UdpFixture, ChannelEndsWithTheConnection)
{
    openChannel(UdpChannelOpenPayload::kRouteVideo);
    client.disconnect(1);
    ASSERT_TRUE(tv.waitForDisconnect());
    ASSERT_TRUE(connect());
    ASSERT_TRUE(tv.waitForConnection(kWaitLimit, 2));
    tv.clearReceived();
    EXPECT_EQ(send(kMsgVideoFrame, patternBytes(2'500, 1)), 2'500) << "a new connection starts on TCP";
    const auto video = tv.waitForMessage(kMsgVideoFrame);
    ASSERT_TRUE(video);
    EXPECT_EQ(video->road, ReceivedMessage::Road::Tcp);
}

TEST_F(UdpFixture, DisconnectDuringAFlood)
{
    openChannel(UdpChannelOpenPayload::kRouteVideo | UdpChannelOpenPayload::kRouteAudio |
                UdpChannelOpenPayload::kRouteOther);
    for (int round = 0; round < 5; ++round) {
        std::atomic<bool> stop{false};
        std::atomic<uint64_t> sentOverUdp{0};
        std::vector<std::thread> senders;
        for (uint16_t type : {kMsgVideoFrame, kMsgAudioFrame, kMsgKeyDown}) {
            senders.emplace_back([&, type] {
                const auto payload = patternBytes(4'000, static_cast<uint8_t>(type));
                while (!stop) {
                    if (send(type, payload) > 0)
                        ++sentOverUdp;
                }
            });
        }
        ASSERT_TRUE(eventually([&] { return sentOverUdp >= 200; }));
        client.disconnect(1);
        EXPECT_EQ(send(kMsgVideoFrame, patternBytes(10, 1)), -1);
        stop = true;
        for (std::thread& sender : senders)
            sender.join();
        ASSERT_TRUE(connect());
        ASSERT_TRUE(tv.waitForConnection(kWaitLimit, static_cast<size_t>(round) + 2));
        openChannel(UdpChannelOpenPayload::kRouteVideo | UdpChannelOpenPayload::kRouteAudio |
                    UdpChannelOpenPayload::kRouteOther);
    }
    EXPECT_EQ(events.count(kMsgDisconnected), 5u);
}

} // namespace

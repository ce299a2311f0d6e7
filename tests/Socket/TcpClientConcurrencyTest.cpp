#include "Socket/TcpClientTestSupport.h"

#include <atomic>
#include <thread>
#include <vector>

namespace {

using ConcurrencyFixture = TvLinkFixture;

// A listener call that ends its own link: on the receive thread (screen code) and on the video
// delivery thread. The next connect joins the parked threads and starts over.
TEST_F(ConcurrencyFixture, DisconnectInsideAListenerCall)
{
    for (const uint16_t type : {kMsgScreenCode, kMsgVideoFrame}) {
        SCOPED_TRACE(type);
        const size_t links = tv.linksAccepted();
        const size_t ended = events.count(kMsgDisconnected);
        events.setHook([type](TcpClient& self, const ClientEvent& event) {
            if (event.type == type)
                self.disconnect(1);
        });
        ASSERT_TRUE(tv.send(type, patternBytes(5'000, 1)));
        ASSERT_TRUE(events.waitFor(kMsgDisconnected, ended + 1));
        EXPECT_EQ(events.events(kMsgDisconnected).back().text, "1");
        EXPECT_TRUE(tv.waitForDisconnect());
        EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);
        client.disconnect(1);
        EXPECT_EQ(events.count(kMsgDisconnected), ended + 1);

        events.setHook(nullptr);
        tv.clearReceived();
        ASSERT_TRUE(connect());
        ASSERT_TRUE(tv.waitForConnection(kWaitLimit, links + 1));
        EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), 0);
        const auto sent = tv.waitForMessage(kMsgKeyDown);
        ASSERT_TRUE(sent);
        EXPECT_EQ(sent->sequence, 0u);
    }
}

TEST_F(ConcurrencyFixture, ConnectFromTheDisconnectedEvent)
{
    // The old connection's receive thread closes it and makes the new one, as an owner that
    // reconnects at once would; the test thread ends the new one.
    std::atomic<bool> reconnected{false};
    events.setHook([&](TcpClient& self, const ClientEvent& event) {
        if (event.type == kMsgDisconnected && !reconnected.exchange(true)) {
            self.disconnect(1);
            EXPECT_TRUE(self.connect("127.0.0.1", tv.port()));
        }
    });
    tv.closeLink();
    ASSERT_TRUE(events.waitFor(kMsgConnected, 2));
    ASSERT_TRUE(tv.waitForConnection(kWaitLimit, 2));
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgDisconnected), 2u);
    EXPECT_FALSE(events.events(kMsgDisconnected)[0].text) << "ended by the peer, not by a disconnect";
}

// Whatever connects, disconnects and sends at once, every connection raises one connected and one
// disconnected event, and each link the TV sees carries its own messages numbered from 0.
TEST_F(ConcurrencyFixture, ConnectDisconnectAndSendStorm)
{
    constexpr int kRounds = 200;
    std::atomic<int> listenerDisconnects{0};
    events.setHook([&](TcpClient& self, const ClientEvent& event) {
        // Now and then the receive thread ends its own link.
        if (event.type == kMsgConnected && listenerDisconnects.fetch_add(1) % 4 == 0)
            self.disconnect(1);
    });
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                connect();
                send(kMsgKeyDown, indexPayload(static_cast<uint32_t>(round), 1'000 + 100 * t));
                client.disconnect(1);
            }
        });
    }
    for (uint16_t type : {kMsgVideoFrame, kMsgAudioFrame, kMsgKeyUp}) {
        threads.emplace_back([&, type] {
            const auto payload = patternBytes(3'000, static_cast<uint8_t>(type));
            while (!stop)
                send(type, payload);
        });
    }
    for (int t = 0; t < 2; ++t)
        threads[t].join();
    stop = true;
    for (size_t t = 2; t < threads.size(); ++t)
        threads[t].join();
    client.disconnect(1);

    EXPECT_GT(events.count(kMsgConnected), 1u);
    EXPECT_EQ(events.count(kMsgConnected), events.count(kMsgDisconnected));
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);
    const auto received = tv.received();
    for (size_t i = 1; i < received.size(); ++i) {
        if (received[i].sequence != 0) {
            ASSERT_EQ(received[i].sequence, received[i - 1].sequence + 1) << "message " << i;
        }
    }
}

} // namespace

#include "Socket/TcpClientTestSupport.h"

#include "Socket/MessageType.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

namespace {

TvSim::Options quietTv()
{
    TvSim::Options options;
    options.heartbeatInterval = 0ms;
    return options;
}

struct ConcurrencyFixture : testing::Test {
    void SetUp() override { ASSERT_TRUE(tv.start()); }

    bool connect() { return client.connect("127.0.0.1", tv.port()); }

    TvSim tv{quietTv()};
    EventRecorder events;
    TcpClient client{&events.info, quickTiming()};
};

TEST_F(ConcurrencyFixture, DisconnectInsideAReceiveThreadListenerCall)
{
    events.setHook([](TcpClient& self, const ClientEvent& event) {
        if (event.type == kMsgScreenCode)
            self.disconnect(1);
    });
    ASSERT_TRUE(connect());
    ASSERT_TRUE(tv.waitForConnection());
    ASSERT_TRUE(tv.send(kMsgScreenCode));
    ASSERT_TRUE(events.waitFor(kMsgDisconnected));
    EXPECT_EQ(events.events(kMsgDisconnected)[0].text, "1");
    EXPECT_TRUE(tv.waitForDisconnect());
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);

    // The next connect joins the parked threads and starts over.
    events.setHook(nullptr);
    ASSERT_TRUE(connect());
    ASSERT_TRUE(tv.waitForConnection(kWaitLimit, 2));
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), 0);
    ASSERT_TRUE(tv.waitForMessage(kMsgKeyDown));
    EXPECT_EQ(tv.received(kMsgKeyDown)[0].sequence, 0u);
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgConnected), 2u);
    EXPECT_EQ(events.count(kMsgDisconnected), 2u);
}

TEST_F(ConcurrencyFixture, DisconnectInsideAVideoDeliveryCall)
{
    events.setHook([](TcpClient& self, const ClientEvent& event) {
        if (event.type == kMsgVideoFrame)
            self.disconnect(1);
    });
    ASSERT_TRUE(connect());
    ASSERT_TRUE(tv.waitForConnection());
    ASSERT_TRUE(tv.send(kMsgVideoFrame, patternBytes(5'000, 1)));
    ASSERT_TRUE(events.waitFor(kMsgDisconnected));
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgDisconnected), 1u);
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
    ASSERT_TRUE(connect());
    ASSERT_TRUE(tv.waitForConnection());
    tv.closeLink();
    ASSERT_TRUE(events.waitFor(kMsgConnected, 2));
    ASSERT_TRUE(tv.waitForConnection(kWaitLimit, 2));
    client.disconnect(1);
    EXPECT_EQ(events.count(kMsgDisconnected), 2u);
}

TEST_F(ConcurrencyFixture, FourThreadsDisconnectingAtOnce)
{
    constexpr int kRounds = 25;
    constexpr int kThreads = 4;
    for (int round = 1; round <= kRounds; ++round) {
        ASSERT_TRUE(connect());
        const auto payload = indexPayload(static_cast<uint32_t>(round), 50'000);
        std::barrier start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                client.send(kMsgVideoFrame, payload.data(), static_cast<int>(payload.size()));
                start.arrive_and_wait();
                client.disconnect(1);
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        // Each disconnect returns once the connection's threads have ended.
        ASSERT_EQ(events.count(kMsgDisconnected), static_cast<size_t>(round));
        ASSERT_EQ(events.count(kMsgConnected), static_cast<size_t>(round));
        EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);
    }
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
                const auto payload = indexPayload(static_cast<uint32_t>(round), 1'000 + 100 * t);
                client.send(kMsgKeyDown, payload.data(), static_cast<int>(payload.size()));
                client.disconnect(1);
            }
        });
    }
    for (uint16_t type : {kMsgVideoFrame, kMsgAudioFrame, kMsgKeyUp}) {
        threads.emplace_back([&, type] {
            const auto payload = patternBytes(3'000, static_cast<uint8_t>(type));
            while (!stop)
                client.send(type, payload.data(), static_cast<int>(payload.size()));
        });
    }
    for (int t = 0; t < 2; ++t)
        threads[t].join();
    stop = true;
    for (size_t t = 2; t < threads.size(); ++t)
        threads[t].join();
    client.disconnect(1);

    EXPECT_GT(events.count(kMsgConnected), 0u);
    EXPECT_EQ(events.count(kMsgConnected), events.count(kMsgDisconnected));
    const auto received = tv.received();
    for (size_t i = 1; i < received.size(); ++i) {
        if (received[i].sequence != 0) {
            ASSERT_EQ(received[i].sequence, received[i - 1].sequence + 1) << "message " << i;
        }
    }
}

} // namespace

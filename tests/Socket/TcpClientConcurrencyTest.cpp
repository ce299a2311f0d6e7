#include "Socket/TcpClientTestSupport.h"

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// A listener on 127.0.0.1 whose accept queue is full, so the kernel drops further handshakes and a
// connect to it waits until the queue is drained.
class StalledListener {
public:
    StalledListener()
    {
        ::listen(listener_.fd(), 0);
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(filler_, reinterpret_cast<const sockaddr*>(&listener_.address()), sizeof(sockaddr_in)) != 0)
            ADD_FAILURE() << "cannot fill the accept queue";
    }
    ~StalledListener()
    {
        ::close(filler_);
        for (const int fd : accepted_)
            ::close(fd);
    }
    StalledListener(const StalledListener&) = delete;
    StalledListener& operator=(const StalledListener&) = delete;

    uint16_t port() const { return listener_.port(); }

    // True once a handshake towards this listener waits unanswered (from /proc/net/tcp).
    bool handshakeWaiting() const
    {
        char remote[16];
        std::snprintf(remote, sizeof remote, ":%04X", port());
        std::ifstream table("/proc/net/tcp");
        std::string line;
        std::getline(table, line);
        while (std::getline(table, line)) {
            std::istringstream fields(line);
            std::string slot, local, peer, state;
            fields >> slot >> local >> peer >> state;
            if (peer.ends_with(remote) && state == "02") // SYN_SENT
                return true;
        }
        return false;
    }

    // Drains the accept queue, so the next handshake goes through.
    void drain()
    {
        while (readable(listener_.fd(), 0ms))
            accepted_.push_back(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
    }

private:
    LoopbackSocket listener_{SOCK_STREAM};
    int filler_ = -1;
    std::vector<int> accepted_;
};

// A disconnect while the handshake is under way wins over the connect, even when the handshake then
// succeeds: the caller ended the link before it was there.
TEST(TcpClientConcurrencyTest, DisconnectDuringConnectWins)
{
    StalledListener listener;
    EventRecorder events;
    TcpClient::Timing timing = quickTiming();
    timing.connectTimeout = kWaitLimit;
    TcpClient client(&events.info, timing);
    std::atomic<bool> connected{true};
    std::thread connecting([&] { connected = client.connect("127.0.0.1", listener.port()); });
    ASSERT_TRUE(eventually([&] { return listener.handshakeWaiting(); }));
    client.disconnect(1);
    // The kernel's next retry of the handshake now succeeds.
    listener.drain();
    connecting.join();
    EXPECT_FALSE(connected);
    EXPECT_EQ(client.peerAddress(), "0.0.0.0");
    EXPECT_EQ(client.send(kMsgKeyDown, nullptr, 0), -1);
    EXPECT_TRUE(events.events().empty()) << "no link was published";

    listener.drain();
    ASSERT_TRUE(client.connect("127.0.0.1", listener.port())) << "the client is free for the next connect";
    ASSERT_TRUE(events.waitFor(kMsgConnected));
}

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

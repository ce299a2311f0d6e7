#include "Platform/DispatchPool.h"
#include "Socket/MessageType.h"
#include "Socket/TcpClient.h"
#include "Socket/TcpClientTestSupport.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

// A listener that holds the receive thread inside the call for kMsgMirrorLocked until opened.
struct HeldListener {
    Gate gate;
    std::atomic<bool> entered{false};

    static int onEvent(void* user, TcpClient*, int type, const char*, const uint8_t*, uint64_t, uint32_t)
    {
        auto& held = *static_cast<HeldListener*>(user);
        if (type == kMsgMirrorLocked) {
            held.entered = true;
            held.gate.wait();
        }
        return 0;
    }
};

// Every pool worker disconnects while another thread still joins the link's threads: they all wait
// for that join, and the pool has to know, or the task queued behind them never finds a worker.
TEST(TcpClientPoolWaitTest, WorkersWaitingForAnotherThreadsJoinLetThePoolGrow)
{
    TvSim tv(quietTv());
    ASSERT_TRUE(tv.start());
    HeldListener held;
    TcpNativeInfo info{.fn = &HeldListener::onEvent, .user = &held};
    TcpClient client(&info, quickTiming());
    ASSERT_TRUE(client.connect("127.0.0.1", tv.port()));
    ASSERT_TRUE(tv.waitForConnection());
    ASSERT_TRUE(tv.send(kMsgMirrorLocked));
    ASSERT_TRUE(eventually([&] { return held.entered.load(); }));
    std::thread joiner([&] { client.disconnect(0); });
    ASSERT_TRUE(eventually([&] { return client.peerAddress() == "0.0.0.0"; }));

    DispatchPool& pool = DispatchPool::shared();
    const size_t workers = pool.threadCount();
    std::atomic<size_t> disconnected{0};
    for (size_t i = 0; i < workers; ++i)
        pool.post([&] {
            client.disconnect(0);
            ++disconnected;
        });
    std::atomic<bool> probed{false};
    pool.post([&] {
        probed = true;
        held.gate.open();
    });
    EXPECT_TRUE(eventually([&] { return probed.load(); }));

    held.gate.open();
    joiner.join();
    EXPECT_TRUE(eventually([&] { return probed && disconnected == workers; }));
}

} // namespace

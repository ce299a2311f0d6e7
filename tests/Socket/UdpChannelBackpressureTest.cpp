// A side channel whose socket buffer fills, in a private network namespace whose loopback holds
// every datagram back (NetworkNamespaceSupport.h).

#include "Socket/TcpClientTestSupport.h"
#include "Socket/UdpChannel.h"
#include "NetworkNamespaceSupport.h"

#include <future>
#include <vector>

namespace {

using namespace NetworkNamespaceSupport;

constexpr size_t kFrameSize = 60'000;
// Far more than the socket's 262,144-byte buffer (which the system doubles) holds.
constexpr int kFrames = 40;

TEST(UdpChannelBackpressureTest, DISABLED_FullSocketBufferDropsInsteadOfBlocking)
{
    ASSERT_TRUE(insideOwnNetworkNamespace());
    ip({"link", "set", "lo", "up"});
    // A queue discipline that lets almost nothing out: the datagrams wait in it, still charged to
    // the sending socket, so its buffer fills.
    ASSERT_TRUE(succeeds({"tc", "qdisc", "add", "dev", "lo", "root", "tbf", "rate", "8kbit", "burst", "100000",
                          "limit", "100000000"}));
    LoopbackSocket tv(SOCK_DGRAM);
    StreamHistories histories;
    const auto channel = UdpChannel::open(tv.address(), kFrameSize, histories);
    ASSERT_TRUE(channel);

    auto sending = std::async(std::launch::async, [&] {
        std::vector<int> results;
        const auto frame = patternBytes(kFrameSize, 1);
        for (int i = 0; i < kFrames; ++i)
            results.push_back(*channel->send(kMsgVideoFrame, frame));
        // The TV's request for everything kept goes out (or is dropped) at once as well.
        channel->resendRange({kMsgVideoFrame, 0, 0, UdpResendRangePayload::kFromOldest});
        return results;
    });
    if (sending.wait_for(kWaitLimit) != std::future_status::ready) {
        ADD_FAILURE() << "a send waited for the full socket buffer";
        // Lets the held datagrams go, so the blocked sender can finish.
        succeeds({"tc", "qdisc", "del", "dev", "lo", "root"});
    }
    const std::vector<int> results = sending.get();
    const int whole = static_cast<int>(kFrameSize + TransportFrameHeader::kSize);
    EXPECT_EQ(results.front(), whole);
    EXPECT_EQ(results.back(), 0) << "dropped: nothing was handed to the system";
    EXPECT_EQ(histories.video.range({kMsgVideoFrame, 0, 0, UdpResendRangePayload::kThroughNewest}).size(),
              StreamHistory::kCapacity)
        << "every message is kept for the TV to ask again";
    markPassedUnlessFailed();
}

TEST(UdpChannelBackpressureTest, FullSocketBufferDropsInsteadOfBlocking)
{
    if (!succeeds({"tc", "-V"}))
        GTEST_SKIP() << "tc(8) from iproute2 is missing";
    runInOwnNetworkNamespace("UdpChannelBackpressureTest", "FullSocketBufferDropsInsteadOfBlocking");
}

} // namespace

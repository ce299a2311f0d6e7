#include "NetSocketTestSupport.h"

#include <csignal>
#include <thread>

namespace {

using NetSocketWriteTest = NetSocketConnectionFixture;

uint8_t patternAt(size_t index)
{
    return uint8_t((index * 7) ^ (index >> 13));
}

TEST_F(NetSocketWriteTest, ThirtyTwoMebibytesReachASlowReaderInOrder)
{
    constexpr size_t kChunk = 1 << 20;
    constexpr size_t kChunks = 32;
    for (size_t c = 0; c < kChunks; ++c) {
        std::vector<uint8_t> chunk(kChunk);
        for (size_t i = 0; i < kChunk; ++i)
            chunk[i] = patternAt(c * kChunk + i);
        child->writeData(std::move(chunk), -1, long(c));
    }
    size_t received = 0;
    bool inOrder = true;
    std::vector<uint8_t> piece(64 * 1024);
    while (received < kChunk * kChunks) {
        const ssize_t n = ::recv(peer->fd(), piece.data(), piece.size(), 0);
        ASSERT_GT(n, 0);
        for (ssize_t i = 0; i < n; ++i)
            inOrder = inOrder && piece[size_t(i)] == patternAt(received + size_t(i));
        received += size_t(n);
        // A slow reader: the socket's buffer fills and the writes wait for room again and again.
        if (received % (4 << 20) < size_t(n))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_TRUE(inOrder);
    ASSERT_TRUE(delegate->waitForWrites(kChunks));
    std::vector<long> expected(kChunks);
    for (size_t c = 0; c < kChunks; ++c)
        expected[c] = long(c);
    EXPECT_EQ(delegate->writes(), expected);
    EXPECT_GT(delegate->partialWrites(), 0u);
}

TEST_F(NetSocketWriteTest, AWriteThatFindsNoRoomTimesOut)
{
    child->writeData(std::vector<uint8_t>(64 << 20, 0x5A), 0.1, 4);
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_EQ(delegate->disconnects()[0].error->code, NetSocketError::WriteTimeoutError);
    EXPECT_TRUE(delegate->writes().empty());
}

// Writes to a peer that closed (and so resets the connection) until the socket closes; exits 0 when
// it closed with the write's POSIX error.
[[noreturn]] void writeToResetPeer()
{
    std::signal(SIGPIPE, SIG_DFL);
    auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = NetSocket::create(delegate, SerialQueue::create("delegate"));
    NetSocketError error;
    listener->acceptOnInterface("127.0.0.1", 0, &error);
    std::optional<Peer> peer;
    peer.emplace(Peer::connectTo("127.0.0.1", listener->localPort()));
    delegate->waitForAccepts(1);
    // Half duplex keeps the socket open past the peer's end of stream, so the writes meet the reset.
    const auto child = delegate->child(0);
    child->setAutoDisconnectOnClosedReadStream(false);
    child->readDataWithTimeout(-1, 0);
    peer->close();
    delegate->waitForReadStreamClosed();
    for (int i = 0; i < 100 && delegate->disconnects().empty(); ++i) {
        child->writeData(std::vector<uint8_t>(4096, 1), -1, i);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto disconnects = delegate->disconnects();
    const bool writeError = !disconnects.empty() && disconnects[0].error &&
        disconnects[0].error->domain == NetSocketError::kPosixDomain &&
        disconnects[0].error->failureReason == "Error in write() function";
    std::exit(writeError ? 0 : 1);
}

// A write to a peer that reset the connection is an error value, not a broken-pipe signal: the
// check runs in a child process with SIGPIPE at its default action, which would kill it.
TEST(NetSocketWriteDeathTest, APeerResetIsAnErrorNotASignal)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(writeToResetPeer(), ::testing::ExitedWithCode(0), "");
}

} // namespace

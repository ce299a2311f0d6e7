#include "NetSocketTestSupport.h"

namespace {

const std::vector<uint8_t> kCRLF{0x0D, 0x0A};

using NetSocketReadTest = NetSocketConnectionFixture;

TEST_F(NetSocketReadTest, ReadAvailableTakesExactlyTheBytesWaiting)
{
    peer->send("xyz");
    child->readDataWithTimeout(-1, 7);
    ASSERT_TRUE(delegate->waitForReads(1));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("xyz"));
    EXPECT_EQ(delegate->reads()[0].tag, 7);
}

TEST_F(NetSocketReadTest, AFixedLengthFedInPiecesReportsEachPiece)
{
    child->readDataToLength(10, -1, 3);
    peer->send("abcd");
    ASSERT_TRUE(delegate->waitForPartialReads(1));
    peer->send("efgh");
    ASSERT_TRUE(delegate->waitForPartialReads(2));
    peer->send("ij");
    ASSERT_TRUE(delegate->waitForReads(1));
    EXPECT_EQ(delegate->partialReads(), (std::vector<size_t>{4, 4}));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("abcdefghij"));
}

TEST_F(NetSocketReadTest, BytesPastTheTerminatorServeTheNextReadFirst)
{
    peer->send("ab\r\ncd");
    child->readDataToData(kCRLF, -1, 1);
    ASSERT_TRUE(delegate->waitForReads(1));
    child->readDataToLength(2, -1, 2);
    ASSERT_TRUE(delegate->waitForReads(2));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("ab\r\n"));
    EXPECT_EQ(delegate->reads()[1].bytes, bytesOf("cd"));
}

TEST_F(NetSocketReadTest, ATerminatorSplitAcrossEventsIsFound)
{
    child->readDataToData(kCRLF, -1, 1);
    peer->send("ab\r");
    ASSERT_TRUE(delegate->waitForPartialReads(1));
    peer->send("\ncd");
    ASSERT_TRUE(delegate->waitForReads(1));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("ab\r\n"));
    // The same split served from the pre-buffer, into a buffer of the caller's at an offset.
    const auto buffer = std::make_shared<std::vector<uint8_t>>(bytesOf("##"));
    child->readDataToData(kCRLF, -1, buffer, 2, 2);
    peer->send("e\r");
    ASSERT_TRUE(delegate->waitForPartialReads(2));
    peer->send("\n");
    ASSERT_TRUE(delegate->waitForReads(2));
    const NetSocketData result = delegate->reads()[1].data;
    EXPECT_EQ(result.toVector(), bytesOf("cde\r\n"));
    EXPECT_EQ(result.storage(), buffer) << "no copy of the caller's buffer";
    EXPECT_EQ(*buffer, bytesOf("##cde\r\n"));
}

TEST_F(NetSocketReadTest, ATerminatorMissingWithinTheMaximumClosesWithMaxedOut)
{
    child->readDataToData(kCRLF, -1, 4, 1);
    peer->send("abcdef");
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    ASSERT_TRUE(delegate->disconnects()[0].error);
    EXPECT_EQ(delegate->disconnects()[0].error->code, NetSocketError::ReadMaxedOutError);
    EXPECT_TRUE(delegate->reads().empty());
}

TEST_F(NetSocketReadTest, AtTheEndOfTheStreamPreBufferedBytesAreServedFirst)
{
    peer->send("ab\r\ncdef");
    peer->close();
    child->readDataToData(kCRLF, -1, 1);
    ASSERT_TRUE(delegate->waitForReads(1));
    child->readDataToLength(4, -1, 2);
    ASSERT_TRUE(delegate->waitForReads(2));
    EXPECT_EQ(delegate->reads()[1].bytes, bytesOf("cdef"));
    child->readDataWithTimeout(-1, 3);
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_EQ(delegate->disconnects()[0].error->code, NetSocketError::ClosedError);
    EXPECT_EQ(delegate->reads().size(), 2u);
}

TEST_F(NetSocketReadTest, RejectedRequestsAreDroppedWithoutACallback)
{
    child->readDataToLength(0, -1, 1);
    child->readDataToData({}, -1, 2);
    child->readDataToData(kCRLF, -1, 1, 3);
    child->readDataWithTimeout(-1, std::make_shared<std::vector<uint8_t>>(2), 3, 4);
    child->writeData(std::vector<uint8_t>{}, -1, 5);
    child->readDataToLength(2, -1, 6);
    peer->send("ok");
    ASSERT_TRUE(delegate->waitForReads(1));
    flushDelegateQueue();
    EXPECT_EQ(delegate->reads().size(), 1u);
    EXPECT_EQ(delegate->reads()[0].tag, 6);
    EXPECT_TRUE(delegate->writes().empty());
}

TEST_F(NetSocketReadTest, ATimedOutReadAsksTheDelegateForMoreTimeUntilItGivesNone)
{
    int asked = 0;
    delegate->extendWith([&asked](long, double, size_t) { return ++asked == 1 ? 0.05 : 0.0; });
    child->readDataToLength(4, 0.05, 9);
    peer->send("ab");
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_EQ(delegate->disconnects()[0].error->code, NetSocketError::ReadTimeoutError);
    EXPECT_EQ(delegate->disconnects()[0].error->description, "Read operation timed out");
    const auto asks = delegate->timeoutsAsked();
    ASSERT_EQ(asks.size(), 2u);
    EXPECT_DOUBLE_EQ(asks[0], 0.05);
    EXPECT_DOUBLE_EQ(asks[1], 0.10) << "elapsed counts the extension";
}

TEST_F(NetSocketReadTest, ATimeOutOfZeroFiresAtOnceAndANegativeOneNever)
{
    child->readDataToLength(4, -1, 1);
    peer->send("ab");
    ASSERT_TRUE(delegate->waitForPartialReads(1));
    child->disconnect();
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_FALSE(delegate->disconnects()[0].error) << "the read without a time-out only ended with the close";

    std::optional<Peer> second;
    const auto other = acceptPeer(second);
    other->readDataToLength(4, 0, 2);
    ASSERT_TRUE(delegate->waitForDisconnects(2));
    EXPECT_EQ(delegate->disconnects()[1].error->code, NetSocketError::ReadTimeoutError);
}

TEST_F(NetSocketReadTest, AHalfClosedPeerLeavesWritingOpen)
{
    child->setAutoDisconnectOnClosedReadStream(false);
    peer->send("bye");
    peer->shutdownWrite();
    child->readDataWithTimeout(-1, 1);
    ASSERT_TRUE(delegate->waitForReadStreamClosed());
    child->writeData(bytesOf("still here"), -1, 2);
    EXPECT_EQ(peer->receive(10), "still here");
    ASSERT_TRUE(delegate->waitForWrites(1));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("bye"));
    EXPECT_TRUE(delegate->disconnects().empty());
    EXPECT_TRUE(child->isConnected());
}

} // namespace

#include "NetSocketTestSupport.h"

#include <future>

namespace {

using NetSocketCloseTest = NetSocketFixture;

TEST_F(NetSocketCloseTest, ANeverStartedSocketReportsNothing)
{
    auto socket = NetSocket::create(delegate, delegateQueue);
    socket->disconnect();
    socket->disconnectAfterReadingAndWriting();
    socket->readDataWithTimeout(-1, 1);
    socket->writeData(bytesOf("dropped"), -1, 1);
    socket.reset();
    flushDelegateQueue();
    EXPECT_TRUE(delegate->disconnects().empty());
    EXPECT_TRUE(delegate->writes().empty());
}

TEST_F(NetSocketCloseTest, ARequestedCloseIsReportedOnceWithoutAnError)
{
    listener->disconnect();
    listener->disconnect();
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    listener.reset();
    flushDelegateQueue();
    const auto disconnects = delegate->disconnects();
    ASSERT_EQ(disconnects.size(), 1u);
    EXPECT_TRUE(disconnects[0].hadSocket);
    EXPECT_FALSE(disconnects[0].error);
    EXPECT_FALSE(Peer::connectTo("127.0.0.1", port).connected()) << "the listening socket is closed";
}

TEST_F(NetSocketCloseTest, APeerCloseIsReportedOnceAsClosedError)
{
    std::optional<Peer> peer;
    const auto child = acceptPeer(peer);
    child->readDataWithTimeout(-1, 0);
    peer->close();
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    child->disconnect();
    delegate->dropChildren();
    flushDelegateQueue();
    const auto disconnects = delegate->disconnects();
    ASSERT_EQ(disconnects.size(), 1u);
    ASSERT_TRUE(disconnects[0].error);
    EXPECT_EQ(disconnects[0].error->code, NetSocketError::ClosedError);
    EXPECT_EQ(disconnects[0].error->description, "Socket closed by remote peer");
}

TEST_F(NetSocketCloseTest, ASocketDestroyedWhileStartedReportsWithoutItself)
{
    listener.reset();
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_FALSE(delegate->disconnects()[0].hadSocket);
    EXPECT_FALSE(delegate->disconnects()[0].error);
}

TEST_F(NetSocketCloseTest, DisconnectAfterWritingSendsWhatIsQueuedFirst)
{
    std::optional<Peer> peer;
    const auto child = acceptPeer(peer);
    child->writeData(bytesOf("last words"), -1, 5);
    child->disconnectAfterWriting();
    child->writeData(bytesOf("refused"), -1, 6);
    EXPECT_EQ(peer->receive(64), "last words");
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_FALSE(delegate->disconnects()[0].error);
    EXPECT_EQ(delegate->writes(), std::vector<long>{5});
}

TEST_F(NetSocketCloseTest, DisconnectAfterReadingServesTheQueuedReadsFirst)
{
    std::optional<Peer> peer;
    const auto child = acceptPeer(peer);
    child->readDataToLength(3, -1, 1);
    child->disconnectAfterReading();
    child->readDataToLength(3, -1, 2);
    EXPECT_TRUE(child->isConnected()) << "a read is still queued";
    peer->send("abcdef");
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_FALSE(delegate->disconnects()[0].error);
    ASSERT_EQ(delegate->reads().size(), 1u) << "the read requested after the disconnect was refused";
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("abc"));
    EXPECT_FALSE(child->isConnected());
    EXPECT_TRUE(child->isDisconnected());
}

TEST_F(NetSocketCloseTest, DroppingASocketWithCallbacksPendingIsSafe)
{
    std::optional<Peer> peer;
    auto child = acceptPeer(peer);
    // The delegate queue is held, so the callbacks wait while every owner of the socket lets go.
    std::promise<void> release;
    delegateQueue->async([gate = release.get_future().share()] { gate.wait(); });
    child->readDataToLength(3, 10, 1);
    child->readDataToLength(5, 10, 2);
    child->writeData(bytesOf("out"), 10, 3);
    peer->send("abcd");
    EXPECT_EQ(peer->receive(3), "out");
    std::weak_ptr<NetSocket> watched = child;
    // The second read is partly done and its time-out armed when the last owners go.
    EXPECT_TRUE(eventually([&] {
        long tag = 0;
        size_t done = 0;
        size_t total = 0;
        child->progressOfReadReturningTag(&tag, &done, &total);
        return tag == 2 && done == 1;
    }));
    delegate->dropChildren();
    child.reset();
    release.set_value();
    ASSERT_TRUE(delegate->waitForReads(1));
    ASSERT_TRUE(delegate->waitForDisconnects(1));
    EXPECT_TRUE(eventually([&] { return watched.expired(); }));
    EXPECT_EQ(delegate->reads()[0].bytes, bytesOf("abc"));
    EXPECT_TRUE(peer->seesEndOfStream());
}

} // namespace

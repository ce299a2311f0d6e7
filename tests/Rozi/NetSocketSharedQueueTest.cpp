#include "NetSocketTestSupport.h"

namespace {

// Echoes every read back, on children that share the delegate's queue as their socket queue; a child
// is let go in its own disconnect callback, so its close runs on that queue.
class SharedQueueEcho final : public NetSocketDelegate {
public:
    explicit SharedQueueEcho(std::shared_ptr<SerialQueue> queue) : queue_(std::move(queue)) {}

    std::shared_ptr<SerialQueue> newSocketQueueForConnectionFromAddress(const std::vector<uint8_t>&, const Socket&) override
    {
        return queue_;
    }
    void didAcceptNewSocket(const Socket&, const Socket& child) override
    {
        children_.push_back(child);
        child->setAutoDisconnectOnClosedReadStream(false);
        child->readDataWithTimeout(-1, 0);
    }
    void didReadData(const Socket& sock, const NetSocketData& data, long) override
    {
        sock->writeData(data.toVector(), -1, 0);
        sock->readDataWithTimeout(-1, 0);
    }

    void socketDidCloseReadStream(const Socket& sock) override { sock->disconnectAfterWriting(); }
    void socketDidDisconnect(const Socket& sock, const std::optional<NetSocketError>&) override
    {
        std::erase(children_, sock);
    }

private:
    std::shared_ptr<SerialQueue> queue_;
    std::vector<std::shared_ptr<NetSocket>> children_;
};

TEST(NetSocketSharedQueueTest, ChildrenOnTheDelegateQueueMayBeReleasedInTheirOwnCallbacks)
{
    const auto queue = SerialQueue::create("shared");
    const auto delegate = std::make_shared<SharedQueueEcho>(queue);
    const auto listener = NetSocket::create(delegate, queue);
    NetSocketError error;
    ASSERT_TRUE(listener->acceptOnInterface("127.0.0.1", 0, &error));
    {
        const Peer first = Peer::connectTo("127.0.0.1", listener->localPort());
        first.send(std::string(100000, 'x'));
        first.shutdownWrite();
        EXPECT_EQ(first.receive(200000).size(), 100000u);
    }
    const Peer peer = Peer::connectTo("127.0.0.1", listener->localPort());
    for (int i = 0; i < 200; ++i) {
        const std::string message = "ping " + std::to_string(i);
        peer.send(message);
        ASSERT_EQ(peer.receive(message.size()), message) << "round " << i;
    }
}

} // namespace

#include "NetSocketTestSupport.h"

#include "NetworkNamespaceSupport.h"
#include "Platform/DescriptorShortage.h"

#include "Platform/SerialQueue.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>

#include <fstream>
#include <chrono>
#include <future>
#include <thread>

namespace {

int optionValue(int fd, int level, int option)
{
    int value = 0;
    socklen_t length = sizeof value;
    ::getsockopt(fd, level, option, &value, &length);
    return value;
}

using NetSocketAcceptTest = NetSocketFixture;

TEST_F(NetSocketAcceptTest, LoopbackAddressListensOnIPv4OnlyAndASecondAcceptIsRefused)
{
    int fd4 = -2;
    int fd6 = -2;
    listener->performBlock([&] {
        fd4 = listener->socket4FD();
        fd6 = listener->socket6FD();
    });
    EXPECT_GE(fd4, 0);
    EXPECT_EQ(fd6, -1);
    EXPECT_EQ(listener->socket4FD(), -1) << "descriptors are answered only on the socket queue";
    EXPECT_TRUE(listener->isIPv4());
    EXPECT_FALSE(listener->isIPv6());
    EXPECT_EQ(listener->localHost(), "127.0.0.1");

    NetSocketError error;
    EXPECT_FALSE(listener->acceptOnInterface("127.0.0.1", 0, &error));
    EXPECT_EQ(error.domain, NetSocketError::kDomain);
    EXPECT_EQ(error.code, NetSocketError::BadConfigError);
    EXPECT_EQ(error.description, "Attempting to accept while connected or accepting connections. Disconnect first.");

    std::optional<Peer> peer;
    EXPECT_NE(acceptPeer(peer), nullptr) << "the first listener still accepts";
}

TEST(NetSocketAcceptChecks, RefusesWithoutDelegateQueueOrFamilyAndLeavesTheSocketAsItWas)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    const auto queue = SerialQueue::create("delegate");
    NetSocketError error;

    EXPECT_FALSE(NetSocket::create({}, queue)->acceptOnPort(0, &error));
    EXPECT_EQ(error.code, NetSocketError::BadConfigError);
    EXPECT_EQ(error.description, "Attempting to accept without a delegate. Set a delegate first.");

    EXPECT_FALSE(NetSocket::create(delegate)->acceptOnPort(0, &error));
    EXPECT_EQ(error.description, "Attempting to accept without a delegate queue. Set a delegate queue first.");

    const auto socket = NetSocket::create(delegate, queue);
    socket->setIPv4Enabled(false);
    socket->setIPv6Enabled(false);
    EXPECT_FALSE(socket->acceptOnPort(0, &error));
    EXPECT_EQ(error.description, "Both IPv4 and IPv6 have been disabled. Must enable at least one protocol first.");

    socket->setIPv6Enabled(true);
    EXPECT_FALSE(socket->acceptOnInterface("127.0.0.1", 0, &error));
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    EXPECT_EQ(error.description, "IPv4 has been disabled and specified interface doesn't support IPv6.");

    EXPECT_FALSE(socket->acceptOnInterface("no-such-interface", 0, &error));
    EXPECT_EQ(error.description, "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    EXPECT_TRUE(socket->isDisconnected());
}

TEST_F(NetSocketAcceptTest, TakesEveryQueuedConnectionInOnePass)
{
    // The listener's queue is held while five connections queue up, so one readiness event finds them all.
    const auto socketQueue = SerialQueue::create("held");
    const auto held = NetSocket::create(delegate, delegateQueue, socketQueue);
    NetSocketError error;
    ASSERT_TRUE(held->acceptOnInterface("127.0.0.1", 0, &error));
    const uint16_t heldPort = held->localPort();
    std::promise<void> release;
    socketQueue->async([gate = release.get_future().share()] { gate.wait(); });

    std::vector<Peer> peers;
    for (int i = 0; i < 5; ++i)
        peers.push_back(Peer::connectTo("127.0.0.1", heldPort));
    // The readiness event reaches the held queue from the reactor's thread: give it time to arrive,
    // or the probe below could run before the pass it is meant to follow.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    release.set_value();
    // Queued behind the pass that the held readiness event starts.
    int waiting = -1;
    held->performBlock([&] {
        pollfd listening{held->socket4FD(), POLLIN, 0};
        waiting = ::poll(&listening, 1, 0);
    });
    EXPECT_EQ(waiting, 0) << "a connection was left for a later pass";
    ASSERT_TRUE(delegate->waitForAccepts(5));
    for (const bool connected : delegate->connectedWhenAccepted())
        EXPECT_TRUE(connected) << "a child is connected when it is reported";
    EXPECT_EQ(delegate->child(0)->delegate().lock(), delegate);
    EXPECT_EQ(delegate->child(0)->delegateQueue(), delegateQueue);
    EXPECT_EQ(delegate->child(0)->connectedHost(), "127.0.0.1");
}

TEST_F(NetSocketAcceptTest, RestsWhileDescriptorsAreShortAndAcceptsOnceTheyFreeUp)
{
    if (DescriptorShortage::unavailable())
        GTEST_SKIP() << "the sanitizers need descriptors of their own";
    // Sockets made while descriptors are free; they connect once none is left, into the backlog.
    std::vector<int> clients;
    for (int i = 0; i < 30; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DescriptorShortage shortage;
    for (const int fd : clients)
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = DescriptorShortage::processCpuTime();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // A spinning accept loop takes a whole core; a resting one a few wake-ups a second.
    EXPECT_LT((DescriptorShortage::processCpuTime() - before).count(), 300);
    EXPECT_EQ(delegate->acceptCount(), 0U);
    shortage.release();
    EXPECT_TRUE(delegate->waitForAccepts(clients.size()));
    for (const int fd : clients)
        ::close(fd);
}

TEST(NetSocketDualStack, ListensOnBothFamiliesAtOnePortWithIPv6Only)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = NetSocket::create(delegate, SerialQueue::create("delegate"));
    NetSocketError error;
    ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error.description << " " << error.failureReason;
    const uint16_t port = listener->localPort4();
    EXPECT_NE(port, 0);
    EXPECT_EQ(listener->localPort6(), port) << "the IPv6 socket takes the port the kernel gave the IPv4 one";
    int v6only = 0;
    listener->performBlock([&] { v6only = optionValue(listener->socket6FD(), IPPROTO_IPV6, IPV6_V6ONLY); });
    EXPECT_EQ(v6only, 1);

    const Peer peer4 = Peer::connectTo("127.0.0.1", port);
    const Peer peer6 = Peer::connectTo("::1", port);
    EXPECT_TRUE(peer4.connected());
    EXPECT_TRUE(peer6.connected());
    ASSERT_TRUE(delegate->waitForAccepts(2));
    const bool firstIsIPv4 = delegate->child(0)->isIPv4();
    EXPECT_EQ(delegate->child(firstIsIPv4 ? 1 : 0)->connectedHost(), "::1");
    EXPECT_TRUE(delegate->child(firstIsIPv4 ? 1 : 0)->isIPv6());
}

TEST(NetSocketDualStack, TheIPv6LoopbackListensThereAlone)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    const auto listener = NetSocket::create(delegate, SerialQueue::create("delegate"));
    NetSocketError error;
    ASSERT_TRUE(listener->acceptOnInterface("::1", 0, &error)) << error.description << " " << error.failureReason;
    EXPECT_EQ(listener->localHost(), "::1");
    EXPECT_EQ(listener->localPort4(), 0) << "no IPv4 socket";
    EXPECT_FALSE(Peer::connectTo("127.0.0.1", listener->localPort6()).connected());
    EXPECT_TRUE(Peer::connectTo("::1", listener->localPort6()).connected());
}

TEST(NetSocketDualStack, AKernelPortTakenInIPv6NeverFailsTheListen)
{
    NetworkNamespaceSupport::runInOwnNetworkNamespace("NetSocketDualStack", "KernelPortTakenInIPv6");
}

TEST(NetSocketDualStack, DISABLED_KernelPortTakenInIPv6)
{
    if (!NetworkNamespaceSupport::insideOwnNetworkNamespace())
        GTEST_SKIP() << "runs only in its own network namespace";
    NetworkNamespaceSupport::ip({"link", "set", "lo", "up"});
    // The kernel gives ports from two, the first of which IPv6 holds.
    const int held = NetworkNamespaceSupport::takeIPv6Port(40'000);
    ASSERT_GE(held, 0) << "the IPv6 loopback is missing";
    ASSERT_TRUE(NetworkNamespaceSupport::setEphemeralPorts(40'000, 40'001));
    const auto delegate = std::make_shared<RecordingDelegate>();
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        const auto listener = NetSocket::create(delegate, SerialQueue::create("delegate"));
        NetSocketError error;
        ASSERT_TRUE(listener->acceptOnPort(0, &error)) << error.description << " " << error.failureReason;
        EXPECT_EQ(listener->localPort4(), 40'001);
        EXPECT_EQ(listener->localPort6(), 40'001);
        listener->disconnect();
        // The listening descriptors close on the socket's queue: wait until the port is free again.
        const auto portFree = [] {
            const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(40'001);
            const bool bound = ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            ::close(probe);
            return bound;
        };
        for (int tries = 0; tries < 2000 && !portFree(); ++tries)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::close(held);
    NetworkNamespaceSupport::markPassedUnlessFailed();
}

TEST_F(NetSocketAcceptTest, ConnectionsNobodyTakesAreClosed)
{
    // A child the delegate does not keep closes its connection.
    delegate->keepChildren(false);
    const Peer dropped = Peer::connectTo("127.0.0.1", port);
    ASSERT_TRUE(delegate->waitForAccepts(1));
    EXPECT_TRUE(dropped.seesEndOfStream());

    // So does a connection that arrives when the listener has no delegate queue left.
    listener->synchronouslySetDelegateQueue(nullptr);
    const Peer orphan = Peer::connectTo("127.0.0.1", port);
    EXPECT_TRUE(orphan.seesEndOfStream());
}

class NetSocketUnixTest : public NetSocketFixture {
protected:
    void SetUp() override
    {
        NetSocketFixture::SetUp();
        folder = std::filesystem::temp_directory_path() / ("netsocket-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        path = folder / "relay.sock";
        unixListener = NetSocket::create(delegate, delegateQueue);
    }
    void TearDown() override
    {
        unixListener.reset();
        std::filesystem::remove_all(folder);
    }

    std::filesystem::path folder;
    std::filesystem::path path;
    std::shared_ptr<NetSocket> unixListener;
};

TEST_F(NetSocketUnixTest, ListensAtAPathReplacingAnOldSocketAndRemovesItAfterTheClose)
{
    // A socket file left behind, as by a process that died, gives way to the next listener.
    {
        const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        ::close(stale);
    }
    NetSocketError error;
    ASSERT_TRUE(unixListener->acceptOnUrl(path, &error)) << error.description;

    const Peer peer = Peer::connectToPath(path);
    ASSERT_TRUE(peer.connected());
    ASSERT_TRUE(delegate->waitForAccepts(1));
    EXPECT_TRUE(delegate->connectedWhenAccepted().at(0));

    unixListener->disconnect();
    EXPECT_FALSE(std::filesystem::exists(path)) << "the socket file goes with the listener";
}

TEST_F(NetSocketUnixTest, RefusesARegularFileAndAPathTooLong)
{
    std::ofstream(path) << "keep me";
    NetSocketError error;
    EXPECT_FALSE(unixListener->acceptOnUrl(path, &error));
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << "a file that is not a socket is never removed";

    const std::filesystem::path tooLong = folder / std::string(sizeof(sockaddr_un::sun_path), 'x');
    EXPECT_FALSE(unixListener->acceptOnUrl(tooLong, &error));
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    EXPECT_EQ(error.description,
        "Invalid unix domain url. Specify a valid file url that does not exist (e.g. \"file:///tmp/socket\")");
    EXPECT_FALSE(unixListener->acceptOnUrl("", &error));
    EXPECT_TRUE(unixListener->isDisconnected());
}

} // namespace

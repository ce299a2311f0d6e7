#include "NetSocketTestSupport.h"

#include "Platform/DispatchPool.h"
#include "Platform/GlobalQueue.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetService.h"
#include "Utils/TestFolders.h"
#include "WebServer/HttpServerAvahiService.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

NetSocketAddress::Data loopback4(uint16_t port)
{
    NetSocketAddress::Data address4;
    NetSocketAddress::Data address6;
    NetSocketAddress::getInterfaceAddress(&address4, &address6, "localhost", port);
    return address4;
}

uint16_t localPortOf(int fd)
{
    return NetSocketAddress::portFromAddress(NetSocketAddress::localAddress(fd));
}

// A plain IPv4 socket bound to a loopback port: listening with a full backlog, so that connects to
// it hang unanswered, or not listening at all, so that they are refused.
class PlainEndpoint {
public:
    enum class Kind { Refusing, NeverAccepting };

    explicit PlainEndpoint(Kind kind) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        const auto address = loopback4(0);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size())), 0);
        port_ = localPortOf(fd_);
        if (kind == Kind::NeverAccepting) {
            EXPECT_EQ(::listen(fd_, 0), 0);
            fillBacklog();
        }
    }
    ~PlainEndpoint()
    {
        for (const int filler : fillers_)
            ::close(filler);
        ::close(fd_);
    }
    PlainEndpoint(const PlainEndpoint&) = delete;
    PlainEndpoint& operator=(const PlainEndpoint&) = delete;

    uint16_t port() const { return port_; }
    // Lets every handshake still knocking complete, when its SYN comes again.
    void makeRoom() const { EXPECT_EQ(::listen(fd_, 64), 0); }
    // Takes every connection the kernel has completed; answers the peers' ports.
    std::vector<uint16_t> acceptAll() const
    {
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        std::vector<uint16_t> ports;
        for (int fd; (fd = ::accept(fd_, nullptr, nullptr)) >= 0; ::close(fd))
            ports.push_back(NetSocketAddress::portFromAddress(NetSocketAddress::peerAddress(fd)));
        return ports;
    }
    std::set<uint16_t> fillerPorts() const
    {
        std::set<uint16_t> ports;
        for (const int filler : fillers_)
            ports.insert(localPortOf(filler));
        return ports;
    }

private:
    // Connects until one connect stays unanswered: the kernel then drops every further handshake.
    void fillBacklog()
    {
        const auto address = loopback4(port_);
        for (int i = 0; i < 16; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(filler, reinterpret_cast<const sockaddr*>(address.data()), socklen_t(address.size()));
            fillers_.push_back(filler);
            pollfd watch{filler, POLLOUT, 0};
            if (::poll(&watch, 1, 200) == 0)
                return;
        }
        ADD_FAILURE() << "the backlog never filled";
    }

    int fd_;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

class NetSocketConnectTest : public ::testing::Test {
protected:
    std::shared_ptr<NetSocket> makeSocket() { return NetSocket::create(recorder, delegateQueue); }
    void flushDelegateQueue() { delegateQueue->sync([] {}); }

    // A listener with a recording delegate on the interface, at a kernel-chosen port.
    std::shared_ptr<NetSocket> listen(const std::string& interface, bool ipv4 = true)
    {
        auto listener = NetSocket::create(listenerDelegate, delegateQueue);
        listener->setIPv4Enabled(ipv4);
        NetSocketError error;
        EXPECT_TRUE(listener->acceptOnInterface(interface, 0, &error)) << error.description;
        return listener;
    }

    std::shared_ptr<RecordingDelegate> recorder = std::make_shared<RecordingDelegate>();
    std::shared_ptr<RecordingDelegate> listenerDelegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<SerialQueue> delegateQueue = SerialQueue::create("delegate");
};

TEST_F(NetSocketConnectTest, RefusesBadParametersAndConfigurationAndLeavesTheSocketAsItWas)
{
    const auto socket = makeSocket();
    NetSocketError error;
    EXPECT_FALSE(socket->connectToHost("", 80, &error));
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    EXPECT_EQ(error.description, "Invalid host parameter (nil or \"\"). Should be a domain name or IP address string.");

    EXPECT_FALSE(NetSocket::create({}, delegateQueue)->connectToHost("localhost", 80, &error));
    EXPECT_EQ(error.code, NetSocketError::BadConfigError);
    EXPECT_EQ(error.description, "Attempting to connect without a delegate. Set a delegate first.");

    NetSocketAddress::Data address = loopback4(80);
    address.pop_back();
    EXPECT_FALSE(socket->connectToAddress(address, &error));
    EXPECT_EQ(error.description, "A valid IPv4 or IPv6 address was not given");
    socket->setIPv4Enabled(false);
    EXPECT_FALSE(socket->connectToAddress(loopback4(80), &error));
    EXPECT_EQ(error.description, "IPv4 has been disabled and an IPv4 address was passed.");
    socket->setIPv4Enabled(true);

    EXPECT_FALSE(socket->connectToHost("localhost", 80, "no-such-interface", -1, &error));
    EXPECT_EQ(error.description, "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.");
    EXPECT_FALSE(socket->connectToUrl("", -1, &error));
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    EXPECT_EQ(error.description, "Invalid unix domain socket url.");
    EXPECT_TRUE(socket->isDisconnected());

    const PlainEndpoint hanging(PlainEndpoint::Kind::NeverAccepting);
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", hanging.port(), &error));
    EXPECT_FALSE(socket->isDisconnected()) << "connecting counts as started";
    EXPECT_FALSE(socket->connectToAddress(loopback4(hanging.port()), &error));
    EXPECT_EQ(error.description, "Attempting to connect while connected or accepting connections. Disconnect first.");
    flushDelegateQueue();
    EXPECT_TRUE(recorder->disconnects().empty()) << "a refused call reports nothing";
}

TEST_F(NetSocketConnectTest, LocalhostTriesIPv4FirstAndServesWhatWasQueuedMeanwhile)
{
    const auto listener = listen("localhost");
    const uint16_t port = listener->localPort4();
    const auto socket = makeSocket();
    NetSocketError error;
    ASSERT_TRUE(socket->connectToHost("localhost", port, "127.0.0.1", 5.0, &error)) << error.description;
    // Queued while connecting: served once the connection stands.
    socket->writeData(bytesOf("ping"), -1, 1);
    socket->readDataToData(NetSocket::CRLFData(), -1, 2);

    ASSERT_TRUE(recorder->waitForConnects(1));
    EXPECT_EQ(recorder->connects()[0].host, "127.0.0.1");
    EXPECT_EQ(recorder->connects()[0].port, port);
    EXPECT_TRUE(socket->isConnected());
    EXPECT_EQ(socket->localHost(), "127.0.0.1");
    ASSERT_TRUE(listenerDelegate->waitForAccepts(1));
    const auto child = listenerDelegate->child(0);
    child->readDataToLength(4, -1, 3);
    child->writeData(bytesOf("pong\r\nrest"), -1, 4);
    ASSERT_TRUE(listenerDelegate->waitForReads(1));
    EXPECT_EQ(listenerDelegate->reads()[0].bytes, bytesOf("ping"));
    ASSERT_TRUE(recorder->waitForReads(1));
    EXPECT_EQ(recorder->reads()[0].bytes, bytesOf("pong\r\n"));

    // Connected before the alternate delay ran out: the IPv6 attempt never knocks.
    std::this_thread::sleep_for(2 * std::chrono::duration<double>(socket->alternateAddressDelay()));
    flushDelegateQueue();
    EXPECT_EQ(listenerDelegate->connectedWhenAccepted().size(), 1u);
    EXPECT_EQ(recorder->connects().size(), 1u);
}

TEST_F(NetSocketConnectTest, LocalhostFallsBackToIPv6WhenIPv4IsRefusedOrWhenIPv6IsPreferred)
{
    const auto listener6 = listen("localhost", false);
    const uint16_t port = listener6->localPort6();
    // Holds the IPv4 port without listening, so IPv4 is refused there.
    NetSocketAddress::Data ipv4 = loopback4(port);
    const NetSocketDescriptor holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<const sockaddr*>(ipv4.data()), socklen_t(ipv4.size())), 0);

    const auto socket = makeSocket();
    NetSocketError error;
    ASSERT_TRUE(socket->connectToHost("localhost", port, 5.0, &error));
    ASSERT_TRUE(recorder->waitForConnects(1));
    EXPECT_EQ(recorder->connects()[0].host, "::1");
    EXPECT_TRUE(socket->isIPv6());
    socket->disconnect();

    const auto both = listen("localhost");
    socket->setIPv4PreferredOverIPv6(false);
    ASSERT_TRUE(socket->connectToHost("localhost", both->localPort4(), 5.0, &error));
    ASSERT_TRUE(recorder->waitForConnects(2));
    EXPECT_EQ(recorder->connects()[1].host, "::1");
    EXPECT_EQ(recorder->disconnects().size(), 1u) << "only the requested disconnect";
}

TEST_F(NetSocketConnectTest, AClosedPortEndsWithTheConnectError)
{
    const PlainEndpoint refusing(PlainEndpoint::Kind::Refusing);
    const auto socket = makeSocket();
    NetSocketError error;
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", refusing.port(), 5.0, &error));
    ASSERT_TRUE(recorder->waitForDisconnects(1));
    const auto failure = recorder->disconnects()[0].error;
    ASSERT_TRUE(failure.has_value());
    EXPECT_EQ(failure->domain, NetSocketError::kPosixDomain);
    EXPECT_EQ(failure->code, ECONNREFUSED);
    EXPECT_EQ(failure->failureReason, "Error in connect() function");
    EXPECT_TRUE(recorder->connects().empty());
    EXPECT_TRUE(socket->isDisconnected());
}

TEST_F(NetSocketConnectTest, ATimeOutClosesTheAttemptForGoodAndTheSocketConnectsAgain)
{
    const PlainEndpoint hanging(PlainEndpoint::Kind::NeverAccepting);
    const auto started = std::chrono::steady_clock::now();
    const auto socket = makeSocket();
    NetSocketError error;
    ASSERT_TRUE(socket->connectToAddress(loopback4(hanging.port()), 0.2, &error));
    ASSERT_TRUE(recorder->waitForDisconnects(1));
    ASSERT_TRUE(recorder->disconnects()[0].error.has_value());
    EXPECT_EQ(recorder->disconnects()[0].error->code, NetSocketError::ConnectTimeoutError);
    EXPECT_EQ(recorder->disconnects()[0].error->description, "Attempt to connect to host timed out");

    // Room in the backlog now: a handshake still alive would complete when its SYN is sent again
    // (1 s after the first), and the socket, connected elsewhere meanwhile, must hear nothing of it.
    hanging.makeRoom();
    const auto listener = listen("127.0.0.1");
    ASSERT_TRUE(socket->connectToHost("127.0.0.1", listener->localPort4(), 5.0, &error));
    ASSERT_TRUE(recorder->waitForConnects(1));
    std::this_thread::sleep_until(started + 2s);
    const auto fillers = hanging.fillerPorts();
    for (const uint16_t peer : hanging.acceptAll())
        EXPECT_TRUE(fillers.count(peer)) << "a connection from the abandoned attempt, port " << peer;
    flushDelegateQueue();
    EXPECT_EQ(recorder->connects().size(), 1u);
    EXPECT_EQ(recorder->connects()[0].port, listener->localPort4());
    EXPECT_EQ(recorder->disconnects().size(), 1u);
    EXPECT_TRUE(socket->isConnected());
}

TEST_F(NetSocketConnectTest, HangingConnectsHoldNoPoolThread)
{
    const PlainEndpoint hanging(PlainEndpoint::Kind::NeverAccepting);
    std::vector<std::shared_ptr<NetSocket>> sockets;
    for (size_t i = 0; i < DispatchPool::shared().threadCount() + 4; ++i) {
        sockets.push_back(makeSocket());
        NetSocketError error;
        ASSERT_TRUE(sockets.back()->connectToHost("127.0.0.1", hanging.port(), -1, &error));
    }
    std::promise<void> ran;
    GlobalQueue::shared()->async([&ran] { ran.set_value(); });
    EXPECT_TRUE(finishes(ran.get_future())) << "every pool thread waits in connect()";
    for (const auto& socket : sockets)
        EXPECT_FALSE(socket->isConnected() || socket->isDisconnected()) << "still connecting";
    sockets.clear();
    flushDelegateQueue();
    EXPECT_TRUE(recorder->connects().empty());
}

TEST_F(NetSocketConnectTest, BothFamiliesRacingGiveOneConnectionAndCloseTheLoser)
{
    const auto listener = listen("localhost");
    const auto socket = makeSocket();
    socket->setAlternateAddressDelay(0);
    NetSocketError error;
    ASSERT_TRUE(socket->connectToHost("localhost", listener->localPort4(), 5.0, &error));
    ASSERT_TRUE(recorder->waitForConnects(1));
    ASSERT_TRUE(listenerDelegate->waitForAccepts(1));
    std::this_thread::sleep_for(300ms);
    const size_t accepted = listenerDelegate->connectedWhenAccepted().size();
    // The child of a losing connection sees it closed.
    EXPECT_TRUE(listenerDelegate->waitForDisconnects(accepted - 1));
    flushDelegateQueue();
    EXPECT_EQ(recorder->connects().size(), 1u);
    EXPECT_EQ(listenerDelegate->disconnects().size(), accepted - 1);
    EXPECT_TRUE(socket->isConnected());
    EXPECT_EQ(socket->isIPv4() ? "127.0.0.1" : "::1", recorder->connects()[0].host);
}

TEST_F(NetSocketConnectTest, AUnixPathConnectsAndReportsItsUrl)
{
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("netsocket-connect-" + std::to_string(::getpid()));
    const auto listener = NetSocket::create(listenerDelegate, delegateQueue);
    NetSocketError error;
    ASSERT_TRUE(listener->acceptOnUrl(path, &error)) << error.description;

    const auto socket = makeSocket();
    ASSERT_TRUE(socket->connectToUrl(path, 5.0, &error));
    socket->writeData(bytesOf("abc"), -1, 1);
    ASSERT_TRUE(recorder->waitForConnects(1));
    EXPECT_EQ(recorder->connects()[0].url, path);
    ASSERT_TRUE(listenerDelegate->waitForAccepts(1));
    listenerDelegate->child(0)->readDataToLength(3, -1, 2);
    ASSERT_TRUE(listenerDelegate->waitForReads(1));
    EXPECT_EQ(listenerDelegate->reads()[0].bytes, bytesOf("abc"));

    listener->disconnect();
    const auto missing = makeSocket();
    ASSERT_TRUE(missing->connectToUrl(path, 5.0, &error));
    ASSERT_TRUE(recorder->waitForDisconnects(1));
    ASSERT_TRUE(recorder->disconnects()[0].error.has_value());
    EXPECT_EQ(recorder->disconnects()[0].error->code, ENOENT);
    EXPECT_EQ(recorder->disconnects()[0].error->failureReason, "Error in connect() function");
}

TEST_F(NetSocketConnectTest, AUnixListenerWithAFullBacklogIsAskedAgainUntilItHasRoom)
{
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("netsocket-backlog-" + std::to_string(::getpid()));
    std::filesystem::remove(path);
    const NetSocketDescriptor listening(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    socklen_t length = 0;
    ASSERT_TRUE(NetSocketAddress::unixAddress(path, &address, &length));
    ASSERT_EQ(::bind(listening.get(), reinterpret_cast<const sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listening.get(), 0), 0);
    // Fills the backlog: a unix-domain listener then refuses a non-blocking connect with EAGAIN.
    std::vector<NetSocketDescriptor> fillers;
    for (int i = 0; i < 16; ++i) {
        fillers.emplace_back(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (::connect(fillers.back().get(), reinterpret_cast<const sockaddr*>(&address), length) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            break;
        }
    }

    const auto socket = makeSocket();
    NetSocketError error;
    ASSERT_TRUE(socket->connectToUrl(path, 5.0, &error));
    std::this_thread::sleep_for(100ms);
    flushDelegateQueue();
    EXPECT_TRUE(recorder->connects().empty() && recorder->disconnects().empty()) << "still waiting for room";
    // Room: the fillers leave the backlog.
    ::fcntl(listening.get(), F_SETFL, O_NONBLOCK);
    for (int fd; (fd = ::accept(listening.get(), nullptr, nullptr)) >= 0;)
        ::close(fd);
    ASSERT_TRUE(recorder->waitForConnects(1));
    EXPECT_EQ(recorder->connects()[0].url, path);
    EXPECT_TRUE(recorder->disconnects().empty());
    std::filesystem::remove(path);
}

// A service resolved through the Avahi daemon. The publication runs only against the private daemon
// that net-service.sh starts in namespaces of its own (nothing then leaves the loopback device); the
// rest runs everywhere, reaching no daemon at all.
TEST_F(NetSocketConnectTest, AServicePublishedOnLoopbackIsResolvedAndConnected)
{
    NetSocketError error;
    NetService service("pelkor test", "_http._tcp");
    EXPECT_FALSE(makeSocket()->connectToNetService(service, &error)) << "an unresolved service has no address";
    EXPECT_EQ(error.code, NetSocketError::BadParamError);
    if (!std::getenv("PELKOR_PRIVATE_AVAHI")) {
        // No daemon to reach. The bus library keeps the first bus address it reads for the whole
        // process, so this runs only where no daemon is used after it.
        const ScopedEnv nowhere("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/pelkor-test-bus");
        EXPECT_FALSE(service.resolve(1.0, &error));
        EXPECT_EQ(error.domain, NetService::kErrorDomain);
        EXPECT_TRUE(error.description.starts_with("The Avahi daemon cannot be reached")) << error.description;
        GTEST_SKIP() << "the publication needs the private Avahi daemon of net-service.sh";
    }

    const auto listener = listen("localhost");
    const uint16_t port = listener->localPort4();
    std::atomic<bool> registered{false};
    const auto published =
        HttpServerAvahiService::publish("pelkor test", "_http._tcp", port, [&](const std::string&) { registered = true; });
    ASSERT_NE(published, nullptr);
    ASSERT_TRUE(eventually([&] { return registered.load(); }));
    ASSERT_TRUE(service.resolve(10.0, &error)) << error.description;
    EXPECT_EQ(service.port(), port);
    EXPECT_FALSE(service.hostName().empty());
    ASSERT_FALSE(service.addresses().empty());

    const auto socket = makeSocket();
    ASSERT_TRUE(socket->connectToNetService(service, &error)) << error.description;
    ASSERT_TRUE(recorder->waitForConnects(1));
    EXPECT_EQ(recorder->connects()[0].host, "127.0.0.1") << "IPv4 first, as the socket prefers it";
    EXPECT_EQ(recorder->connects()[0].port, port);
    EXPECT_TRUE(listenerDelegate->waitForAccepts(1));
}

} // namespace

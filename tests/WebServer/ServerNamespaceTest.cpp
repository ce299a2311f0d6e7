// The server where the network differs from the test host's: behind a NAT-PMP gateway, and on a host
// without IPv6. Each runs in a private network namespace (NetworkNamespaceSupport.h).

#include "NetworkNamespaceSupport.h"
#include "ServerTestSupport.h"

#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"
#include "WebServer/HttpServerLog.h"
#include "WebServer/HttpServerNATPortMapping.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <thread>

using namespace ServerTestSupport;
using namespace NetworkNamespaceSupport;

namespace {

constexpr const char* kGatewayAddress = "10.201.0.1";
constexpr const char* kHostAddress = "10.201.0.2";
constexpr const char* kPublicAddress = "203.0.113.7";

// A NAT-PMP gateway (RFC 6886) on kGatewayAddress:5351: answers the public-address request (opcode
// 0) and TCP mapping requests (opcode 2) with the configured result code, granting `lifetime`
// seconds and the requested port plus one, and records every mapping request.
class FakeGateway {
public:
    struct MappingRequest {
        uint16_t internalPort = 0;
        uint16_t suggestedPort = 0;
        uint32_t lifetime = 0;
    };

    FakeGateway()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(5351);
        inet_pton(AF_INET, kGatewayAddress, &address.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
        thread_ = std::thread([this] { serve(); });
    }
    ~FakeGateway()
    {
        stop_ = true;
        thread_.join();
        ::close(fd_);
    }

    bool bound() const { return bound_; }
    void setResultCode(uint16_t code) { resultCode_ = code; }
    std::atomic<uint32_t> lifetime{2};

    // Waits (ten seconds at most) until `count` mapping requests came in; returns them.
    std::vector<MappingRequest> waitForMappingRequests(size_t count)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(10), [&] { return requests_.size() >= count; });
        return requests_;
    }

private:
    void serve()
    {
        while (!stop_) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) <= 0)
                continue;
            uint8_t datagram[64];
            sockaddr_in peer{};
            socklen_t peerLength = sizeof(peer);
            const ssize_t length = ::recvfrom(fd_, datagram, sizeof(datagram), 0, reinterpret_cast<sockaddr*>(&peer), &peerLength);
            if (length < 2)
                continue;
            const auto reply = answer(std::span<const uint8_t>(datagram, static_cast<size_t>(length)));
            if (!reply.empty())
                ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&peer), peerLength);
        }
    }

    static ByteWriter& u16be(ByteWriter& writer, uint16_t value) { return writer.u8(static_cast<uint8_t>(value >> 8)).u8(static_cast<uint8_t>(value)); }

    std::vector<uint8_t> answer(std::span<const uint8_t> request)
    {
        ByteReader reader(request);
        const uint8_t version = reader.u8();
        const uint8_t opcode = reader.u8();
        ByteWriter reply;
        reply.u8(0).u8(static_cast<uint8_t>(128 + opcode));
        u16be(reply, resultCode_).u32be(++epoch_);
        if (version != 0)
            return {};
        if (opcode == 0) {
            in_addr publicAddress{};
            inet_pton(AF_INET, kPublicAddress, &publicAddress);
            reply.u32be(ntohl(publicAddress.s_addr));
            return reply.take();
        }
        if (opcode != 2)
            return {};
        reader.skip(2);  // reserved
        MappingRequest mapping;
        mapping.internalPort = reader.u16be();
        mapping.suggestedPort = reader.u16be();
        mapping.lifetime = reader.u32be();
        if (!reader.complete())
            return {};
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(mapping);
        }
        changed_.notify_all();
        u16be(reply, mapping.internalPort);
        u16be(reply, mapping.lifetime == 0 ? 0 : static_cast<uint16_t>(mapping.internalPort + 1)).u32be(mapping.lifetime == 0 ? 0u : lifetime.load());
        return reply.take();
    }

    int fd_ = -1;
    bool bound_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<uint16_t> resultCode_{0};
    uint32_t epoch_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<MappingRequest> requests_;
    std::thread thread_;
};

// Everything the server logs, from any thread.
class LogRecorder {
public:
    LogRecorder()
    {
        HttpServerLog::setBuiltInLogger([this](int level, const std::string& message) {
            const std::lock_guard lock(mutex_);
            lines_.emplace_back(level, message);
        });
    }
    ~LogRecorder() { HttpServerLog::setBuiltInLogger(nullptr); }
    bool contains(int level, const std::string& message) const
    {
        const std::lock_guard lock(mutex_);
        return std::find(lines_.begin(), lines_.end(), std::make_pair(level, message)) != lines_.end();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<int, std::string>> lines_;
};

struct MappingDelegate : HttpServerDelegate {
    int updates = 0;
    void webServerDidUpdateNATPortMapping(HttpServer&) override { ++updates; }
};

class ServerNamespaceTest : public ServerFixture {
protected:
    void SetUp() override
    {
        // Never on the test host's own interfaces.
        if (!insideOwnNetworkNamespace())
            GTEST_SKIP() << "runs only in its own network namespace";
        ip({"link", "set", "lo", "up"});
    }
};

TEST(ServerNetworkTest, NATPortMappingThroughAGateway) { runInOwnNetworkNamespace("ServerNamespaceTest", "NATPortMapping"); }

TEST_F(ServerNamespaceTest, DISABLED_NATPortMapping)
{
    const LogRecorder log;
    const auto delegate = std::make_shared<MappingDelegate>();
    server->setDelegate(delegate);
    server->addGETHandlerForPath("/", bytes("mapped"), "text/plain", 0);
    HttpServer::Options options;
    options.requestNATPortMapping = true;

    // No default route, so no gateway to ask: logged, and the server serves all the same.
    start(options);
    EXPECT_TRUE(log.contains(HttpServerLog::Error, "Failed creating NAT port mapping (" + std::to_string(NATPMP_ERR_CANNOTGETGATEWAY) + ")"));
    EXPECT_EQ(exchange(port(), get("/")).body, "mapped");
    EXPECT_EQ(server->publicServerURL(), std::nullopt);
    server->stop();

    ip({"link", "add", "nat0", "type", "veth", "peer", "name", "natgw"});
    ip({"addr", "add", std::string(kHostAddress) + "/24", "dev", "nat0"});
    ip({"addr", "add", std::string(kGatewayAddress) + "/24", "dev", "natgw"});
    ip({"link", "set", "nat0", "up"});
    ip({"link", "set", "natgw", "up"});
    ip({"route", "add", "default", "via", kGatewayAddress, "dev", "nat0"});
    FakeGateway gateway;
    ASSERT_TRUE(gateway.bound());

    // Granted: the public address and the port the gateway chose; renewed at half the lifetime.
    start(options);
    ASSERT_TRUE(loop->runUntil([&] { return delegate->updates == 1; }));
    const std::string url = "http://" + std::string(kPublicAddress) + ":" + std::to_string(port() + 1) + "/";
    EXPECT_EQ(server->publicServerURL(), url);
    EXPECT_TRUE(log.contains(HttpServerLog::Info, "HttpServer now publicly reachable at " + url));
    const auto requests = gateway.waitForMappingRequests(2);
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[0].internalPort, port());
    EXPECT_EQ(requests[0].suggestedPort, port());
    EXPECT_EQ(requests[0].lifetime, HttpServerNATPortMapping::kRequestedLifetime);
    EXPECT_EQ(delegate->updates, 1) << "an unchanged renewal is not reported";

    // A refusal at the next renewal clears the public URL.
    gateway.setResultCode(3);
    ASSERT_TRUE(loop->runUntil([&] { return delegate->updates == 2; }));
    EXPECT_EQ(server->publicServerURL(), std::nullopt);
    EXPECT_TRUE(log.contains(HttpServerLog::Error, "DNS service error " + std::to_string(NATPMP_ERR_NETWORKFAILURE)));
    EXPECT_EQ(exchange(port(), get("/")).body, "mapped");
    server->stop();

    // Stopping withdraws a granted mapping: lifetime 0, external port 0. (Granted for an hour, so
    // that no renewal comes in between.)
    gateway.setResultCode(0);
    gateway.lifetime = 3600;
    start(options);
    ASSERT_TRUE(loop->runUntil([&] { return server->publicServerURL().has_value(); }));
    const size_t before = gateway.waitForMappingRequests(0).size();
    server->stop();
    EXPECT_EQ(server->publicServerURL(), std::nullopt);
    const auto after = gateway.waitForMappingRequests(before + 1);
    ASSERT_EQ(after.size(), before + 1);
    EXPECT_EQ(after.back().lifetime, 0u);
    EXPECT_EQ(after.back().suggestedPort, 0u);
    markPassedUnlessFailed();
}

TEST(ServerNetworkTest, ServesIPv4AloneWhereIPv6IsMissing) { runInOwnNetworkNamespace("ServerNamespaceTest", "IPv4Only"); }

TEST_F(ServerNamespaceTest, DISABLED_IPv4Only)
{
    // Takes ::1 away; a kernel without IPv6 has no such file, and no IPv6 sockets either.
    if (FILE* file = fopen("/proc/sys/net/ipv6/conf/lo/disable_ipv6", "w")) {
        fputs("1\n", file);
        fclose(file);
    }
    const LogRecorder log;
    server->addGETHandlerForPath("/", bytes("four"), "text/plain", 0);
    start();
    EXPECT_TRUE(log.contains(HttpServerLog::Warning, "IPv6 is not available: serving IPv4 only"));
    EXPECT_EQ(exchange(port(), get("/")).body, "four");
    EXPECT_EQ(server->serverURL(), "http://localhost:" + std::to_string(port()) + "/");
    const uint16_t used = port();
    server->stop();
    // Stopping closed the IPv4 socket too: the port is free again.
    HttpServer::Options options;
    options.port = used;
    start(options);
    markPassedUnlessFailed();
}

}  // namespace

TEST(ServerNetworkTest, AKernelPortTakenInIPv6NeverFailsTheStart) { runInOwnNetworkNamespace("ServerNamespaceTest", "KernelPortTakenInIPv6"); }

TEST_F(ServerNamespaceTest, DISABLED_KernelPortTakenInIPv6)
{
    // The kernel gives ports from two, the first of which IPv6 holds.
    const int held = takeIPv6Port(40'000);
    ASSERT_GE(held, 0) << "the IPv6 loopback is missing";
    server->addGETHandlerForPath("/", bytes("both"), "text/plain", 0);
    for (int i = 0; i < 10; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(setEphemeralPorts(40'000, 40'001));
        start();
        EXPECT_EQ(port(), 40'001);
        // The test's own connection needs a port of its own.
        ASSERT_TRUE(setEphemeralPorts(41'000, 42'000));
        EXPECT_EQ(exchange(port(), get("/")).body, "both");
        server->stop();
    }
    ::close(held);
    markPassedUnlessFailed();
}

#include "ServerTestSupport.h"

#include "Platform/DescriptorShortage.h"
#include "Platform/DispatchPool.h"
#include "Platform/GlobalQueue.h"
#include "WebServer/HttpServerConnection.h"
#include "WebServer/HttpServerLog.h"

#include <atomic>
#include <future>
#include <latch>

using namespace ServerTestSupport;

namespace {

// A generous bound that only tells a deadlock from a slow machine.
bool finishes(std::future<void> done) { return done.wait_for(std::chrono::seconds(30)) == std::future_status::ready; }

class ListenerTest : public ::testing::Test {
protected:
    ListenerTest() { MainQueue::install(loop); }
    // The loop stays installed: connections still ending post their last calls to it.

    std::shared_ptr<HttpServer> startedServer(HttpServer::Options options = {})
    {
        options.bindToLocalhost = true;
        auto server = std::make_shared<HttpServer>();
        EXPECT_TRUE(server->start(options));
        return server;
    }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
};

TEST_F(ListenerTest, StoppingOnEveryPoolWorkerAtOnceStillClosesTheSockets)
{
    // Stopping waits for the sockets' cancel handlers, which need a worker of their own: with every
    // worker stopping a server, the pool must start one more.
    struct Shared {
        size_t threads = DispatchPool::shared().threadCount();
        std::latch allIn{static_cast<std::ptrdiff_t>(threads)};
        std::vector<std::shared_ptr<HttpServer>> servers;
        std::atomic<size_t> stopped{0};
        std::promise<void> done;
    };
    auto shared = std::make_shared<Shared>();
    for (size_t i = 0; i < shared->threads; ++i)
        shared->servers.push_back(startedServer());
    for (size_t i = 0; i < shared->threads; ++i) {
        GlobalQueue::shared()->async([shared, server = shared->servers[i]] {
            shared->allIn.arrive_and_wait();
            server->stop();
            if (++shared->stopped == shared->threads)
                shared->done.set_value();
        });
    }
    ASSERT_TRUE(finishes(shared->done.get_future()));
}

TEST_F(ListenerTest, StoppingInsideTheConnectionFactoryEndsAccepting)
{
    std::promise<void> allWaiting;
    std::promise<void> stopped;
    HttpServer::Options options;
    // Several accept loops may call the factory at once: one of them stops.
    options.connectionFactory = [waiting = allWaiting.get_future().share(), &stopped, stopping = std::make_shared<std::atomic<bool>>(false)](
                                    std::shared_ptr<HttpServer> server, int, std::vector<uint8_t>,
                                    std::vector<uint8_t>) -> std::shared_ptr<HttpServerConnection> {
        if (server->isRunning() && !stopping->exchange(true)) {
            // Stops only once every client waits in the backlog, so the accepting batch goes on after
            // the stop (and no client meets a closed port).
            waiting.wait();
            server->stop();
            stopped.set_value();
        }
        return nullptr;
    };
    const auto server = startedServer(options);
    const uint16_t port = server->port();
    std::vector<int> clients;
    for (int i = 0; i < 4; ++i)
        clients.push_back(connectTo(port));
    allWaiting.set_value();
    ASSERT_TRUE(finishes(stopped.get_future()));
    EXPECT_FALSE(server->isRunning());
    for (const int fd : clients)
        ::close(fd);
}

TEST_F(ListenerTest, RestsWhileDescriptorsAreShortLogsOnceAndServesOnceTheyFreeUp)
{
    if (DescriptorShortage::unavailable())
        GTEST_SKIP() << "the sanitizers need descriptors of their own";
    auto shortageLines = std::make_shared<std::atomic<int>>(0);
    HttpServerLog::setBuiltInLogger([shortageLines](int, const std::string& message) {
        if (message.starts_with("Out of descriptors"))
            ++*shortageLines;
    });
    HttpServer::Options options;
    options.maxPendingConnections = 64;  // every client waits in the backlog while accepting rests
    const auto server = startedServer(options);
    std::vector<int> clients;
    for (int i = 0; i < 30; ++i)
        clients.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    DescriptorShortage shortage;
    for (const int fd : clients) {
        ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
        sendText(fd, get("/"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto before = DescriptorShortage::processCpuTime();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT((DescriptorShortage::processCpuTime() - before).count(), 300) << "the accept loops spin";
    shortage.release();
    for (const int fd : clients) {
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
        EXPECT_EQ(parse(readAll(fd)).status, 501) << "no handler: every request is answered 501";
        ::close(fd);
    }
    EXPECT_EQ(shortageLines->load(), 1) << "one line per episode";
    HttpServerLog::setBuiltInLogger(nullptr);
}

}  // namespace

#include "ServerTestSupport.h"

#include "WebServer/HttpServerConnection.h"

#include <cerrno>
#include <mutex>
#include <thread>

using namespace ServerTestSupport;

namespace {

// True once a connection to the port is refused; gives up after ten seconds.
bool portCloses(uint16_t port)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool refused = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 && errno == ECONNREFUSED;
        ::close(fd);
        if (refused)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The server is held only by `holder` (and by what it lends its own queues); the code under test
// drops `holder` from inside the server's accept or request path.
class ServerLifetimeTest : public ::testing::Test {
protected:
    ServerLifetimeTest() { MainQueue::install(loop); }
    // The loop stays installed: connections still ending post their last calls to it.

    void release()
    {
        const std::lock_guard lock(mutex);
        holder.reset();
    }

    uint16_t start(HttpServer::Options options)
    {
        options.bindToLocalhost = true;
        const std::lock_guard lock(mutex);
        weak = holder;
        EXPECT_TRUE(holder->start(options));
        return holder->port();
    }

    const std::shared_ptr<TestMainLoop> loop = std::make_shared<TestMainLoop>();
    std::mutex mutex;
    std::shared_ptr<HttpServer> holder = std::make_shared<HttpServer>();
    std::weak_ptr<HttpServer> weak;
};

TEST_F(ServerLifetimeTest, TheLastReferenceDroppedWhileAcceptingClosesThePort)
{
    HttpServer::Options options;
    // The accept path's own hook: the server ends on the listener's handler once this returns.
    options.connectionFactory = [this](std::shared_ptr<HttpServer> server, int, std::vector<uint8_t>,
                                    std::vector<uint8_t>) -> std::shared_ptr<HttpServerConnection> {
        server.reset();
        release();
        return nullptr;
    };
    const uint16_t port = start(options);
    ::close(connectTo(port));
    EXPECT_TRUE(portCloses(port));
    EXPECT_TRUE(weak.expired());
}

TEST_F(ServerLifetimeTest, TheLastReferenceDroppedByARequestHandlerClosesThePort)
{
    holder->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(), HttpServer::synchronous([this](std::shared_ptr<HttpServerRequest>) {
        release();
        return HttpServerDataResponse::responseWithText("bye");
    }));
    const uint16_t port = start({});
    EXPECT_EQ(ServerTestSupport::exchange(port, get("/")).body, "bye");
    EXPECT_TRUE(portCloses(port));
    EXPECT_TRUE(weak.expired());
}

}  // namespace

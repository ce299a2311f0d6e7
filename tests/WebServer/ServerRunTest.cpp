// runWithOptions: the server in the foreground until SIGINT or SIGTERM. These tests own the main
// queue themselves (runWithOptions installs its own loop), so they use no fixture.

#include "ServerTestSupport.h"

#include <csignal>
#include <thread>

using namespace ServerTestSupport;

namespace {

struct StopSignalDelegate : HttpServerDelegate {
    explicit StopSignalDelegate(int signalNumber) : signal(signalNumber) {}
    // On the main queue, which is the running thread: the request and the signal come from a helper.
    void webServerDidStart(HttpServer& server) override
    {
        ++started;
        helper = std::thread([this, port = server.port()] {
            answer = ServerTestSupport::exchange(port, get("/")).body;
            ::kill(::getpid(), signal);
        });
    }
    void webServerDidStop(HttpServer&) override { ++stopped; }

    const int signal;
    int started = 0;
    int stopped = 0;
    std::string answer;
    std::thread helper;
};

sighandler_t currentHandler(int signalNumber)
{
    struct sigaction action {};
    sigaction(signalNumber, nullptr, &action);
    return action.sa_handler;
}

TEST(ServerRunTest, ServesUntilATerminateOrInterruptSignalThenStops)
{
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        // A process-directed signal that found no handler would end the test program here.
        const sighandler_t before = currentHandler(signalNumber);
        const auto server = std::make_shared<HttpServer>();
        server->addGETHandlerForPath("/", bytes("running"), "text/plain", 0);
        const auto delegate = std::make_shared<StopSignalDelegate>(signalNumber);
        server->setDelegate(delegate);
        HttpServer::Options options;
        options.bindToLocalhost = true;
        EXPECT_TRUE(server->runWithOptions(options));
        if (delegate->helper.joinable())
            delegate->helper.join();
        EXPECT_EQ(delegate->answer, "running");
        EXPECT_FALSE(server->isRunning());
        EXPECT_EQ(delegate->started, 1);
        EXPECT_EQ(delegate->stopped, 1) << "what stopping posts runs before runWithOptions returns";
        EXPECT_EQ(currentHandler(signalNumber), before);
    }
}

TEST(ServerRunTest, AFailedStartReturnsAtOnceWithTheError)
{
    const int taken = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(taken, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(taken, 1), 0);
    socklen_t length = sizeof(address);
    getsockname(taken, reinterpret_cast<sockaddr*>(&address), &length);

    const sighandler_t before = currentHandler(SIGTERM);
    const auto server = std::make_shared<HttpServer>();
    HttpServer::Options options;
    options.port = ntohs(address.sin_port);
    options.bindToLocalhost = true;
    HttpError error;
    EXPECT_FALSE(server->runWithOptions(options, &error));
    EXPECT_EQ(error.code, EADDRINUSE);
    EXPECT_EQ(currentHandler(SIGTERM), before);
    ::close(taken);
}

}  // namespace

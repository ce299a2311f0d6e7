#include "ServerTestSupport.h"

#include "WebServer/HttpServerErrorResponse.h"

#include "WebServer/HttpServerLog.h"
#include "WebServer/HttpServerStreamedResponse.h"

#include <algorithm>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>

using namespace ServerTestSupport;

namespace {

class ServerTest : public ServerFixture {};

std::shared_ptr<HttpServerResponse> text(const std::string& body)
{
    return HttpServerDataResponse::responseWithText(body);
}

TEST_F(ServerTest, ServesDataAndTheHeadOfItOnTheKernelsPort)
{
    server->addGETHandlerForPath("/hello", bytes("hello world"), "text/plain", 60);
    start();
    const Reply reply = exchange(port(), get("/HELLO"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "hello world");
    EXPECT_EQ(reply.header("connection"), "Close");
    EXPECT_EQ(reply.header("server"), "HttpServer");
    EXPECT_EQ(reply.header("content-length"), "11");
    EXPECT_EQ(reply.header("cache-control"), "max-age=60, public");
    EXPECT_TRUE(reply.has("date"));

    const Reply head = exchange(port(), get("/hello", {}, "HEAD"));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), "11");
    EXPECT_EQ(head.header("content-type"), reply.header("content-type"));
    EXPECT_EQ(head.body, "");
}

TEST_F(ServerTest, ListensOnIPv6LoopbackToo)
{
    server->addGETHandlerForPath("/", bytes("six"), "text/plain", 0);
    start();
    const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port());
    address.sin6_addr = in6addr_loopback;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    sendText(fd, get("/"));
    EXPECT_EQ(parse(readAll(fd)).body, "six");
    ::close(fd);
}

TEST_F(ServerTest, NoMatchingHandlerAnswers501WithABareHead)
{
    server->addGETHandlerForPath("/only", bytes("x"), "text/plain", 0);
    start();
    for (const std::string& request : {get("/other"), get("/only", {}, "DELETE")}) {
        const Reply reply = exchange(port(), request);
        EXPECT_EQ(reply.status, 501);
        EXPECT_EQ(reply.headers.size(), 3u);
        EXPECT_TRUE(reply.has("connection") && reply.has("server") && reply.has("date"));
    }
}

TEST_F(ServerTest, TheHandlerAddedLastWinsAndErrorsGetNoCacheControl)
{
    server->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(), HttpServer::synchronous([](auto) { return text("first"); }));
    server->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(), HttpServer::synchronous([](auto) { return text("second"); }));
    server->addHandlerForMethod("POST", "/x", HttpServer::requestFactory(), HttpServer::synchronous([](auto) {
        return HttpServerErrorResponse::responseWithClientError(405, "not here");
    }));
    // Asynchronous completion from another thread.
    server->addHandlerForMethod("GET", "/later", HttpServer::requestFactory(), [](auto, HttpServerHandler::Completion completion) {
        std::thread([completion] { completion(text("later")); }).detach();
    });
    server->addHandlerForMethod("GET", "/nothing", HttpServer::requestFactory(), HttpServer::synchronous([](auto) {
        return std::shared_ptr<HttpServerResponse>();
    }));
    start();
    EXPECT_EQ(exchange(port(), get("/anything")).body, "second");
    EXPECT_EQ(exchange(port(), get("/later")).body, "later");
    EXPECT_EQ(exchange(port(), get("/nothing")).status, 500);
    const Reply refused = exchange(port(), get("/x", "Content-Length: 0\r\n", "POST"));
    EXPECT_EQ(refused.status, 405);
    EXPECT_FALSE(refused.has("cache-control"));
}

TEST_F(ServerTest, RegexHandlersStoreTheirCaptures)
{
    server->addHandlerForMethodPathRegex("GET", "^/items/([0-9]+)/(a)?(b)?$", HttpServer::requestFactory(),
        HttpServer::synchronous([](std::shared_ptr<HttpServerRequest> request) {
            const auto* captures = std::any_cast<std::vector<std::string>>(request->attributeForKey(HttpServerRequest::kRegexCapturesAttribute));
            std::string joined;
            for (const auto& capture : *captures)
                joined += capture + "|";
            return text(joined);
        }));
    server->addHandlerForMethodPathRegex("GET", "([", HttpServer::requestFactory(), HttpServer::synchronous([](auto) { return text("never"); }));
    EXPECT_EQ(server->handlers().size(), 1u);
    start();
    EXPECT_EQ(exchange(port(), get("/ITEMS/42/b")).body, "42|b|");
    EXPECT_EQ(exchange(port(), get("/items/x/")).status, 501);
}

TEST_F(ServerTest, RefusesASecondStartAndAPortInUse)
{
    start();
    EXPECT_FALSE(server->start(HttpServer::Options{}));
    const auto other = std::make_shared<HttpServer>();
    HttpServer::Options options;
    options.port = port();
    options.bindToLocalhost = true;
    HttpError error;
    EXPECT_FALSE(other->start(options, &error));
    EXPECT_EQ(error.domain, HttpError::kPosixDomain);
    EXPECT_EQ(error.code, EADDRINUSE);
    EXPECT_FALSE(other->isRunning());
    EXPECT_EQ(server->serverURL(), "http://localhost:" + std::to_string(port()) + "/");
}

TEST_F(ServerTest, BonjourWithoutADaemonIsLoggedAndTheServerRuns)
{
    // Tests never announce anything on a real network.
    if (::access("/run/avahi-daemon/socket", F_OK) == 0)
        GTEST_SKIP() << "an Avahi daemon runs here";
    std::mutex mutex;
    std::vector<std::string> errors;
    HttpServerLog::setBuiltInLogger([&](int level, const std::string& message) {
        const std::lock_guard lock(mutex);
        if (level == HttpServerLog::Error)
            errors.push_back(message);
    });
    server->addGETHandlerForPath("/", bytes("x"), "text/plain", 0);
    HttpServer::Options options;
    options.bonjourName = "";
    start(options);
    EXPECT_EQ(exchange(port(), get("/")).status, 200);
    EXPECT_EQ(server->bonjourServerURL(), std::nullopt);
    HttpServerLog::setBuiltInLogger(nullptr);
    EXPECT_NE(std::find(errors.begin(), errors.end(), "Failed creating CFNetService for registration"), errors.end());
}

TEST_F(ServerTest, PastTheConnectionCapNewConnectionsWaitTheirTurn)
{
    server->addGETHandlerForPath("/", bytes("x"), "text/plain", 0);
    HttpServer::Options options;
    options.maxConnections = 1;
    start(options);
    const int first = connectTo(port());
    sendText(first, "GET / HT");
    const int second = connectTo(port());
    sendText(second, get("/"));
    pollfd entry{second, POLLIN, 0};
    EXPECT_EQ(::poll(&entry, 1, 300), 0) << "served past the cap";
    sendText(first, "TP/1.1\r\nHost: localhost\r\n\r\n");
    EXPECT_EQ(parse(readAll(first)).status, 200);
    EXPECT_EQ(parse(readAll(second)).status, 200) << "the waiting connection was dropped";
    ::close(first);
    ::close(second);
}

TEST(ServerLogTest, MessagesBelowTheLevelAreDropped)
{
    std::vector<std::pair<int, std::string>> lines;
    HttpServerLog::setBuiltInLogger([&](int level, const std::string& message) { lines.emplace_back(level, message); });
    EXPECT_EQ(HttpServerLog::logLevel(), HttpServerLog::Info);
    HttpServerLog::log(HttpServerLog::Verbose, "hidden");
    HttpServerLog::log(HttpServerLog::Warning, "shown %d", 3);
    HttpServerLog::setLogLevel(HttpServerLog::Error);
    HttpServerLog::log(HttpServerLog::Warning, "hidden too");
    HttpServerLog::setLogLevel(HttpServerLog::Info);
    HttpServerLog::setBuiltInLogger(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::make_pair(int(HttpServerLog::Warning), std::string("shown 3")));
}

struct RecordingDelegate : HttpServerDelegate {
    int started = 0, connects = 0, disconnects = 0, stopped = 0;
    void webServerDidStart(HttpServer&) override { ++started; }
    void webServerDidConnect(HttpServer&) override { ++connects; }
    void webServerDidDisconnect(HttpServer&) override { ++disconnects; }
    void webServerDidStop(HttpServer&) override { ++stopped; }
};

TEST_F(ServerTest, ABurstOfConnectionsIsReportedOnceAndStopReportsTheDisconnect)
{
    const auto delegate = std::make_shared<RecordingDelegate>();
    server->setDelegate(delegate);
    server->addGETHandlerForPath("/", bytes("x"), "text/plain", 0);
    start();
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(exchange(port(), get("/")).status, 200);
    loop->runUntil([&] { return delegate->connects >= 1 && delegate->started == 1; });
    // The virtual clock stands still, so the coalescing delay never runs out here.
    loop->runUntil([] { return false; }, std::chrono::milliseconds(200));
    EXPECT_EQ(delegate->connects, 1);
    EXPECT_EQ(delegate->disconnects, 0);
    server->stop();
    EXPECT_TRUE(loop->runUntil([&] { return delegate->disconnects == 1 && delegate->stopped == 1; }));
}

TEST_F(ServerTest, WithoutACoalescingDelayEveryDropToZeroIsReported)
{
    const auto delegate = std::make_shared<RecordingDelegate>();
    server->setDelegate(delegate);
    server->addGETHandlerForPath("/", bytes("x"), "text/plain", 0);
    HttpServer::Options options;
    options.connectedStateCoalescingInterval = std::chrono::milliseconds(0);
    start(options);
    for (int i = 1; i <= 2; ++i) {
        EXPECT_EQ(exchange(port(), get("/")).status, 200);
        EXPECT_TRUE(loop->runUntil([&] { return delegate->disconnects == i; }));
        EXPECT_EQ(delegate->connects, i);
    }
}

TEST_F(ServerTest, BasicAndDigestAuthentication)
{
    server->addGETHandlerForPath("/", bytes("secret"), "text/plain", 0);
    HttpServer::Options options;
    options.authenticationMethod = "Basic";
    options.authenticationRealm = "R";
    options.authenticationAccounts = {{"user", "pass"}};
    start(options);
    const Reply denied = exchange(port(), get("/"));
    EXPECT_EQ(denied.status, 401);
    EXPECT_EQ(denied.header("www-authenticate"), "Basic realm=\"R\"");
    EXPECT_EQ(exchange(port(), get("/", "Authorization: Basic dXNlcjpwYXNz\r\n")).body, "secret");
    server->stop();

    options.authenticationMethod = "DigestAccess";
    start(options);
    const Reply challenge = exchange(port(), get("/", "Authorization: Digest nonce=\"old\"\r\n"));
    EXPECT_EQ(challenge.status, 401);
    const std::string field = challenge.header("www-authenticate");
    EXPECT_EQ(field.rfind("Digest realm=\"R\", nonce=\"", 0), 0u) << field;
    const std::string nonce = quotedParameter(field, "nonce");
    const auto status = [this](const std::string& target, const std::string& authorization) {
        return exchange(port(), get(target, "Authorization: " + authorization + "\r\n")).status;
    };
    EXPECT_EQ(status("/", digestAnswer(nonce, "00000001", "/other")), 401) << "signed for another target";
    EXPECT_EQ(status("/", digestAnswer(nonce, "00000001", "/")), 200);
    EXPECT_EQ(status("/", digestAnswer(nonce, "00000001", "/")), 401) << "replayed";
    EXPECT_EQ(status("/", digestAnswer(nonce, "00000002", "/", "pass", "HEAD")), 401) << "signed for another method";
    EXPECT_EQ(status("/", digestAnswer(nonce, "00000003", "/")), 200);
}

}  // namespace

namespace {

class ServerServingTest : public ServerFixture {};

constexpr int kStreamPieces = 100000;

TEST_F(ServerServingTest, AHandlerThatTakesItsTimeDoesNotHoldUpOtherConnections)
{
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    server->addHandlerForMethod("GET", "/slow", HttpServer::requestFactory(),
        HttpServer::synchronous([&entered, released](std::shared_ptr<HttpServerRequest>) {
            entered.set_value();
            released.wait();
            return text("slow");
        }));
    server->addGETHandlerForPath("/", bytes("quick"), "text/plain", 0);
    start();
    const int slow = connectTo(port());
    sendText(slow, get("/slow"));
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const Reply quick = exchange(port(), get("/"));
    release.set_value();
    EXPECT_EQ(quick.body, "quick") << "a connection waited for another's handler";
    EXPECT_EQ(parse(readAll(slow)).body, "slow");
    ::close(slow);
}

TEST_F(ServerServingTest, AStreamOfManyPiecesReadyAtOnceIsSentWhole)
{
    server->addHandlerForMethod("GET", "/stream", HttpServer::requestFactory(),
        HttpServer::synchronous([](std::shared_ptr<HttpServerRequest>) -> std::shared_ptr<HttpServerResponse> {
            auto left = std::make_shared<int>(kStreamPieces);
            return HttpServerStreamedResponse::responseWithContentType("text/plain", [left](HttpError*) -> HttpServerBodyReader::Piece {
                return (*left)-- > 0 ? std::vector<uint8_t>{'x'} : std::vector<uint8_t>{};
            });
        }));
    start();
    const Reply reply = exchange(port(), get("/stream"));
    std::string chunks;
    for (int piece = 0; piece < kStreamPieces; ++piece)
        chunks += "1\r\nx\r\n";
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, chunks + "0\r\n\r\n");
}

}  // namespace

namespace {

// The configuration reads back: stored credentials of the configured method only, the queue
// priority, and no Bonjour service where none was published.
TEST_F(ServerTest, AccessorsReadTheConfigurationBack)
{
    EXPECT_FALSE(server->authenticationBasicAccounts());
    HttpServer::Options options;
    options.authenticationMethod = "DigestAccess";
    options.authenticationRealm = "Realm";
    options.authenticationAccounts = {{"user", "pass"}};
    options.dispatchQueuePriority = 2;
    start(options);
    EXPECT_FALSE(server->authenticationBasicAccounts());
    EXPECT_EQ(server->authenticationDigestAccounts(),
              (std::map<std::string, std::string>{{"user", "3f0e70c9fc01800cc70046a898f1f0ea"}}));
    EXPECT_EQ(server->dispatchQueuePriority(), 2);
    EXPECT_FALSE(server->bonjourName());
    EXPECT_FALSE(server->bonjourType());
    server->stop();

    options.authenticationMethod = "Basic";
    start(options);
    EXPECT_EQ(server->authenticationBasicAccounts(), (std::map<std::string, std::string>{{"user", "dXNlcjpwYXNz"}}));
    EXPECT_FALSE(server->authenticationDigestAccounts());
}

} // namespace

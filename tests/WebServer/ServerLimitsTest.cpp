// Each phase of a request held to its limit, refusals decided from the head, and the statuses of heads
// the server does not take: against a WebDavServer on loopback.
#include "WebDavTestSupport.h"

#include "Platform/Waiting.h"

#include <zlib.h>

#include <chrono>
#include <fstream>
#include <poll.h>

using namespace ServerTestSupport;
using namespace WebDavTestSupport;

namespace {

using Clock = std::chrono::steady_clock;

size_t residentBytes()
{
    std::ifstream statm("/proc/self/statm");
    size_t pages = 0;
    size_t resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

std::string gzipped(const std::string& text)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&stream, text.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

class ServerLimitsTest : public WebDavFixture {
protected:
    // Basic authentication with one account, "user".
    void startWithPassword(const std::string& password)
    {
        HttpServer::Options options;
        options.authenticationMethod = "Basic";
        options.authenticationAccounts = {{"user", password}};
        start(options);
    }
    // Names of the items in the served folder, scratch items included.
    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(root))
            names.push_back(entry.path().filename());
        return names;
    }
};

TEST_F(ServerLimitsTest, ASlowBodyCrowdFromOneHostLeavesRoomForOthers)
{
    HttpServer::Options options;
    options.maxPendingConnections = 511;
    start(options);
    std::vector<int> crowd;
    for (int i = 0; i < 300; ++i) {
        const int fd = connectTo(server->port(), "127.0.0.2");
        sendText(fd, "PUT /slow" + std::to_string(i) + " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100000\r\n\r\nx");
        crowd.push_back(fd);
    }
    const auto asked = Clock::now();
    write("/a.txt", "served");
    EXPECT_EQ(request("GET", "/a.txt").body, "served");
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(1));
    // Past the address's cap the crowd was answered 503 and closed, not left waiting.
    size_t refused = 0;
    for (const int fd : crowd) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 0) == 1 && parse(readAll(fd)).status == 503)
            ++refused;
        ::close(fd);
    }
    EXPECT_EQ(refused, 300 - HttpServer::Options{}.maxConnectionsPerAddress);
}

TEST_F(ServerLimitsTest, ABodyBelowTheMinimumRateIsCutOff)
{
    HttpServer::Options options;
    options.transferRateWindow = std::chrono::milliseconds(500);
    start(options);
    const int fd = connectTo(server->port());
    sendText(fd, "PUT /trickle HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1000\r\n\r\n");
    const auto started = Clock::now();
    bool closed = false;
    for (int i = 0; i < 100 && !closed; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        closed = ::send(fd, "x", 1, MSG_NOSIGNAL) < 0;
        pollfd entry{fd, POLLIN, 0};
        closed |= ::poll(&entry, 1, 0) == 1;
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5)) << "a byte every 100 ms held the connection";
    ::close(fd);
    EXPECT_FALSE(exists("/trickle"));

    // The answer's writes likewise: a client that stops reading a large file is cut off.
    std::filesystem::resize_file((std::ofstream(root + "/large.bin"), root + "/large.bin"), 256 << 20);
    const int reader = connectTo(server->port());
    sendText(reader, get("/large.bin"));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    // What the kernel's buffers held when the server gave up, then the end: far short of the file.
    size_t received = 0;
    char buffer[65536];
    ssize_t count = 0;
    while (received < (size_t{64} << 20) && (count = ::recv(reader, buffer, sizeof(buffer), 0)) > 0)
        received += static_cast<size_t>(count);
    EXPECT_EQ(count, 0) << "the server still sends to a client that stopped reading";
    ::close(reader);
}

TEST_F(ServerLimitsTest, AGetIsAnsweredWithoutWaitingForItsBody)
{
    start();
    write("/a.txt", "a");
    const int fd = connectTo(server->port());
    sendText(fd, "GET /a.txt HTTP/1.1\r\nHost: localhost\r\nContent-Length: 100000000\r\n\r\n");
    const auto asked = Clock::now();
    const std::string head = readHead(fd);
    EXPECT_EQ(parse(head).status, 200);
    EXPECT_LT(Clock::now() - asked, std::chrono::seconds(5));
    ::close(fd);
}

TEST_F(ServerLimitsTest, HeldLargeBodiesKeepMemoryFlat)
{
    start();
    const size_t before = residentBytes();
    const std::string piece(1 << 20, 'x');
    std::vector<int> clients;
    for (int i = 0; i < 50; ++i) {
        // An XML body in memory, and an upload on disk: neither grows with what is declared.
        for (const char* head : {"PROPFIND / HTTP/1.1\r\nHost: localhost\r\nDepth: 1\r\nContent-Length: 16777216\r\n\r\n",
                 "PUT /held HTTP/1.1\r\nHost: localhost\r\nContent-Length: 16777216\r\n\r\n"}) {
            const int fd = connectTo(server->port());
            sendText(fd, head);
            sendText(fd, piece);
            clients.push_back(fd);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_LT(residentBytes() - std::min(before, residentBytes()), size_t{100} << 20);
    for (const int fd : clients)
        ::close(fd);
}

TEST_F(ServerLimitsTest, AWrongPasswordIsRefusedBeforeTheBodyIsStored)
{
    startWithPassword("right");
    // 300 MB of zeros that cost nothing to make: curl announces them and waits for "100 Continue".
    const std::string big = base + "/big.bin";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, 300'000'000);
    const auto started = Clock::now();
    const std::string status = curl({"-o", "/dev/null", "-w", "%{http_code}", "-u", "user:wrong", "-T", big,
        "http://127.0.0.1:" + std::to_string(server->port()) + "/big.bin"});
    EXPECT_EQ(status, "401");
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(entries(), std::vector<std::string>{}) << "neither the file nor a scratch copy of it";
    std::filesystem::remove(big);
}

TEST_F(ServerLimitsTest, TheUploadCapCountsTheBytesAfterDecoding)
{
    HttpServer::Options options;
    options.maxRequestBodyLength = 1'000'000;
    start(options);
    const std::string body = gzipped(std::string(5'000'000, '\0'));
    ASSERT_LT(body.size(), 100'000U);
    EXPECT_EQ(put("/bomb.bin", body, "Content-Encoding: gzip\r\n").status, 413);
    // The part received is deleted with the request, once the connection has ended.
    EXPECT_TRUE(eventually([&] { return entries().empty(); }));
    EXPECT_EQ(put("/small.bin", gzipped("small"), "Content-Encoding: gzip\r\n").status, 201);
    EXPECT_EQ(read("/small.bin"), "small");
}

TEST_F(ServerLimitsTest, ARefusalIsReadByAClientStillSending)
{
    HttpServer::Options options;
    options.maxRequestBodyLength = 1000;
    start(options);
    // Without "Expect" the client sends its body at once; the 413 must reach it, not a reset.
    const std::string body(512 * 1024, 'x');
    for (int i = 0; i < 20; ++i) {
        const int fd = connectTo(server->port());
        sendText(fd, "PUT /big HTTP/1.1\r\nHost: localhost\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        EXPECT_EQ(parse(readAll(fd)).status, 413) << "try " << i;
        ::close(fd);
    }
}

TEST_F(ServerLimitsTest, HeadsTheServerDoesNotTakeGetTheirStatus)
{
    startWithPassword("pass");
    write("/a.txt", "a");
    const std::string basic = "Authorization: basic dXNlcjpwYXNz\r\n";  // the scheme in lower case
    const struct {
        std::string head;
        int status;
    } cases[] = {
        {"GET /a.txt HTTP/1.1\r\nHost: localhost\r\n" + basic, 200},
        {"GET /a.txt HTTP/1.1\r\n" + basic, 400},  // no "Host"
        {"GET /" + std::string(9000, 'a') + " HTTP/1.1\r\nHost: localhost\r\n" + basic, 414},
        {"PUT /" + std::string(300, 'n') + " HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1\r\n" + basic, 414},  // a name past NAME_MAX
        {"PUT /b HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: gzip\r\n" + basic, 501},
        {"PUT /b HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked, chunked\r\n" + basic, 400},
        {"PUT /b HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked, gzip\r\n" + basic, 400},
        {"PUT /b HTTP/1.1\r\nHost: localhost\r\nTransfer-Encoding: chunked\r\nTransfer-Encoding: chunked\r\n" + basic, 400},
    };
    for (const auto& [head, status] : cases)
        EXPECT_EQ(exchange(server->port(), head + "\r\n" + (status == 414 && head.starts_with("PUT") ? "x" : "")).status, status) << head.substr(0, 80);
}

}  // namespace

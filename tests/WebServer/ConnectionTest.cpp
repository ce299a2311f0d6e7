#include "ServerTestSupport.h"

#include "WebServer/HttpServerDataRequest.h"
#include "WebServer/HttpServerFileResponse.h"
#include "WebServer/HttpServerHeadParser.h"

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <cstdlib>
#include <fstream>
#include <zlib.h>

using namespace ServerTestSupport;

namespace {

class ConnectionTest : public ServerFixture {
protected:
    ConnectionTest()
    {
        char pattern[] = "/tmp/http-connection-XXXXXX";
        folder_ = mkdtemp(pattern);
        filePath = folder_ + "/file.txt";
        std::ofstream(filePath) << "0123456789abcdefghij";
        // A modification time with a fraction of a second, which no head can carry.
        const timespec times[2] = {{1700000000, 750000000}, {1700000000, 750000000}};
        utimensat(AT_FDCWD, filePath.c_str(), times, 0);
    }
    ~ConnectionTest() override { std::system(("rm -rf " + folder_).c_str()); }

    // POST /echo answers the body it received; its cap is maxBody.
    void addEcho(size_t maxBody = HttpServerDataRequest::kDefaultMaxBodyLength)
    {
        server->addHandler(
            [maxBody](const std::string& method, const std::string& url, const HttpServerRequest::Headers& headers, const std::string& path,
                const HttpServerRequest::Query& query) -> std::unique_ptr<HttpServerRequest> {
                if (method != "POST" || path != "/echo")
                    return nullptr;
                auto request = HttpServerRequest::create<HttpServerDataRequest>(method, url, headers, path, query);
                if (request)
                    request->setMaxBodyLength(maxBody);
                return request;
            },
            HttpServer::synchronous([this](std::shared_ptr<HttpServerRequest> request) {
                ++echoed;
                const auto& data = static_cast<HttpServerDataRequest&>(*request).data();
                return HttpServerDataResponse::responseWithData(data, "application/octet-stream");
            }));
    }

    std::string folder_;
    std::string filePath;
    std::atomic<int> echoed{0};
};

TEST_F(ConnectionTest, ServesFilesWholeByRangeAndAsHead)
{
    server->addGETHandlerForPath("/file", filePath, false, 0, true);
    start();
    const Reply whole = exchange(port(), get("/file"));
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, "0123456789abcdefghij");
    EXPECT_EQ(whole.header("accept-ranges"), "bytes");
    EXPECT_TRUE(whole.has("etag") && whole.has("last-modified"));

    const Reply part = exchange(port(), get("/file", "Range: bytes=2-4\r\n"));
    EXPECT_EQ(part.status, 206);
    EXPECT_EQ(part.body, "234");
    EXPECT_EQ(part.header("content-range"), "bytes 2-4/20");
    EXPECT_EQ(exchange(port(), get("/file", "Range: bytes=-3\r\n")).body, "hij");
    const Reply unsatisfiable = exchange(port(), get("/file", "Range: bytes=50-60\r\n"));
    EXPECT_EQ(unsatisfiable.status, 416);
    EXPECT_EQ(unsatisfiable.header("content-range"), "bytes */20");

    const Reply head = exchange(port(), get("/file", {}, "HEAD"));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), "20");
    EXPECT_EQ(head.body, "");
}

TEST_F(ConnectionTest, ServesAFolderTree)
{
    ::mkdir((folder_ + "/sub").c_str(), 0700);
    std::ofstream(folder_ + "/sub/index.html") << "<p>index</p>";
    server->addGETHandlerForBasePath("/files/", folder_, "index.html", 0, true);
    start();
    const Reply listing = exchange(port(), get("/files/"));
    EXPECT_EQ(listing.status, 200);
    EXPECT_NE(listing.body.find("<a href=\"file.txt\">file.txt</a>"), std::string::npos);
    EXPECT_NE(listing.body.find("<a href=\"sub/\">sub/</a>"), std::string::npos);
    EXPECT_EQ(exchange(port(), get("/files/sub/")).body, "<p>index</p>");
    EXPECT_EQ(exchange(port(), get("/files/file.txt", "Range: bytes=10-\r\n")).body, "abcdefghij");
    // A file past one piece is sent from the file by the kernel, whole or a stretch of it.
    std::string large(300000, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 + i / 251);
    std::ofstream(folder_ + "/large.bin", std::ios::binary) << large;
    EXPECT_EQ(exchange(port(), get("/files/large.bin")).body, large);
    EXPECT_EQ(exchange(port(), get("/files/large.bin", "Range: bytes=1000-250999\r\n")).body, large.substr(1000, 250000));
    EXPECT_EQ(exchange(port(), get("/files/missing")).status, 404);
    // Climbing out of the folder stays inside it.
    EXPECT_EQ(exchange(port(), get("/files/../../../etc/passwd")).status, 404);
}

TEST_F(ConnectionTest, ConditionalRequests)
{
    server->addGETHandlerForPath("/file", filePath, false, 0, false);
    const auto tag = HttpServerFileResponse::responseWithFile(filePath)->eTag().value();
    const auto date = HttpServerFileResponse::responseWithFile(filePath)->lastModifiedDate().value();
    server->addDefaultHandlerForMethod("PUT", HttpServer::requestFactory(), HttpServer::synchronous([this](auto) {
        return std::shared_ptr<HttpServerResponse>(HttpServerFileResponse::responseWithFile(filePath));
    }));
    start();
    const Reply byTag = exchange(port(), get("/file", "If-None-Match: " + tag + "\r\n"));
    EXPECT_EQ(byTag.status, 304);
    EXPECT_EQ(byTag.header("etag"), tag);
    EXPECT_EQ(byTag.body, "");
    EXPECT_EQ(exchange(port(), get("/file", "If-None-Match: *\r\n")).status, 304);
    // The client echoes "Last-Modified", which has lost the file time's fraction of a second.
    const std::string lastModified = exchange(port(), get("/file")).header("last-modified");
    EXPECT_EQ(exchange(port(), get("/file", "If-Modified-Since: " + lastModified + "\r\n")).status, 304);
    const std::string before = HttpServerFunctions::formatRFC822Date(date - std::chrono::seconds(5));
    EXPECT_EQ(exchange(port(), get("/file", "If-Modified-Since: " + before + "\r\n")).status, 200);
    EXPECT_EQ(exchange(port(), get("/file", "If-None-Match: " + tag + "\r\nContent-Length: 0\r\n", "PUT")).status, 412);
}

TEST_F(ConnectionTest, GzipsWhenTheHandlerEnablesIt)
{
    const std::string text(5000, 'z');
    server->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(), HttpServer::synchronous([&text](std::shared_ptr<HttpServerRequest> request) {
        auto response = HttpServerDataResponse::responseWithText(text);
        response->setGZipContentEncodingEnabled(request->acceptsGzipContentEncoding());
        return response;
    }));
    start();
    const Reply reply = exchange(port(), get("/", "Accept-Encoding: gzip\r\n"));
    EXPECT_EQ(reply.header("content-encoding"), "gzip");
    EXPECT_EQ(reply.header("transfer-encoding"), "chunked");
    // Undo the chunked framing, then inflate.
    std::string compressed;
    std::string_view rest = reply.body;
    while (true) {
        const size_t eol = rest.find("\r\n");
        ASSERT_NE(eol, std::string_view::npos);
        const size_t size = std::stoul(std::string(rest.substr(0, eol)), nullptr, 16);
        if (size == 0)
            break;
        compressed += rest.substr(eol + 2, size);
        rest.remove_prefix(eol + 2 + size + 2);
    }
    z_stream stream{};
    ASSERT_EQ(inflateInit2(&stream, 16 + MAX_WBITS), Z_OK);
    std::string inflated(text.size() + 16, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(compressed.data());
    stream.avail_in = static_cast<uInt>(compressed.size());
    stream.next_out = reinterpret_cast<Bytef*>(inflated.data());
    stream.avail_out = static_cast<uInt>(inflated.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    inflated.resize(stream.total_out);
    inflateEnd(&stream);
    EXPECT_EQ(inflated, text);
}

// Far past the socket's send buffer, so the head and the body go out over many partial sends.
TEST_F(ConnectionTest, AMultiMegabyteDataResponseArrivesWhole)
{
    std::vector<uint8_t> data(12 << 20);
    for (size_t index = 0; index < data.size(); ++index)
        data[index] = static_cast<uint8_t>(index * 7 + index / 251);
    server->addGETHandlerForPath("/large", data, "application/octet-stream", 0);
    start();
    const Reply reply = exchange(port(), get("/large"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.header("content-length"), std::to_string(data.size()));
    ASSERT_EQ(reply.body.size(), data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), reply.body.begin(), [](uint8_t sent, char got) { return sent == static_cast<uint8_t>(got); }));
}

TEST_F(ConnectionTest, ReadsBodiesByLengthInChunksAndAfter100Continue)
{
    addEcho();
    start();
    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 5\r\n", "POST") + "hello").body, "hello");
    const std::string chunked = "Transfer-Encoding: chunked\r\n";
    EXPECT_EQ(exchange(port(), get("/echo", chunked, "POST") + "5;ext=1\r\nhello\r\n1\r\n!\r\n0\r\nTrailer: x\r\n\r\n").body, "hello!");

    const int fd = connectTo(port());
    sendText(fd, get("/echo", "Content-Length: 3\r\nExpect: 100-CONTINUE\r\n", "POST"));
    EXPECT_EQ(readHead(fd), "HTTP/1.1 100 Continue\r\n\r\n");
    sendText(fd, "abc");
    EXPECT_EQ(parse(readAll(fd)).body, "abc");
    ::close(fd);

    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 3\r\nExpect: something\r\n", "POST")).status, 417);
}

TEST_F(ConnectionTest, RefusesBadFramingWith400)
{
    addEcho();
    start();
    for (const std::string& request : {
             get("/echo", "Content-Length: 12abc\r\n", "POST"),
             get("/echo", "Content-Length: 1\r\nContent-Length: 2\r\n", "POST"),
             get("/echo", "Content-Length: 2\r\n", "POST") + "toolong",
             get("/echo", "Transfer-Encoding: chunked\r\n", "POST") + "zz\r\n",
             get("/echo", "Transfer-Encoding: chunked\r\n", "POST") + "FFFFFFFFFFFFFFFFF\r\n",
             get("/echo", "Transfer-Encoding: chunked\r\n", "POST") + "3\r\nabcXY",
             std::string("GET / HTTP/1.1\r\nFolded: a\r\n b\r\n\r\n"),
             std::string("NOT A REQUEST\r\n\r\n"),
         }) {
        EXPECT_EQ(exchange(port(), request).status, 400) << request;
    }
    EXPECT_EQ(echoed, 0);
}

TEST_F(ConnectionTest, CapsHeadsAndBodies)
{
    addEcho(4);
    start();
    const Reply huge = exchange(port(), "GET / HTTP/1.1\r\nX: " + std::string(HttpServerHeadParser::kDefaultMaxHeadLength, 'a') + "\r\n\r\n");
    EXPECT_EQ(huge.status, 431);
    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 5\r\n", "POST") + "12345").status, 413);
    EXPECT_EQ(exchange(port(), get("/echo", "Transfer-Encoding: chunked\r\n", "POST") + "5\r\n12345\r\n0\r\n\r\n").status, 413);
    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 4\r\n", "POST") + "1234").body, "1234");
    EXPECT_EQ(echoed, 1);
}

TEST_F(ConnectionTest, UploadsPastTheServersCapAre413BeforeTheyAreStored)
{
    addEcho();
    HttpServer::Options options;
    options.maxRequestBodyLength = 10;
    start(options);
    // Only the head is sent: the answer must not wait for a body.
    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 11\r\n", "POST")).status, 413);
    const Reply expecting = exchange(port(), get("/echo", "Content-Length: 11\r\nExpect: 100-continue\r\n", "POST"));
    EXPECT_EQ(expecting.status, 413);
    EXPECT_EQ(expecting.raw.find("100 Continue"), std::string::npos);
    EXPECT_EQ(exchange(port(), get("/echo", "Transfer-Encoding: chunked\r\n", "POST") + "6\r\n123456\r\n6\r\n123456\r\n0\r\n\r\n").status,
        413);
    EXPECT_EQ(exchange(port(), get("/echo", "Content-Length: 10\r\n", "POST") + "0123456789").body, "0123456789");
    EXPECT_EQ(echoed, 1);
}

TEST_F(ConnectionTest, AHeadSentOneByteAtATimeParses)
{
    addEcho();
    start();
    const std::string request = get("/echo", "Content-Length: 2\r\n", "POST") + "ok";
    const int fd = connectTo(port());
    for (const char c : request)
        sendText(fd, std::string_view(&c, 1));
    EXPECT_EQ(parse(readAll(fd)).body, "ok");
    ::close(fd);
}

TEST_F(ConnectionTest, ABodyCutShortNeverReachesTheHandler)
{
    addEcho();
    start();
    const int fd = connectTo(port());
    sendText(fd, get("/echo", "Content-Length: 100\r\n", "POST") + "only some");
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(parse(readAll(fd)).status, 0);
    ::close(fd);
    EXPECT_EQ(echoed, 0);
}

TEST_F(ConnectionTest, AnIdlePeerIsDisconnected)
{
    HttpServer::Options options;
    options.idleTimeout = std::chrono::milliseconds(100);
    start(options);
    const int fd = connectTo(port());
    sendText(fd, "GET / HT");
    // Before the client's own ten-second read time-out.
    EXPECT_TRUE(closedByServer(fd));
    ::close(fd);
}

TEST_F(ConnectionTest, AHeadTricklingInIsCutOffAtItsDeadline)
{
    HttpServer::Options options;
    options.idleTimeout = std::chrono::seconds(10);
    options.requestHeadTimeout = std::chrono::milliseconds(300);
    start(options);
    const int fd = connectTo(port());
    sendText(fd, "GET / HTTP/1.1\r\nX: ");
    // One byte every 50 ms, never a pause the idle time-out would see, for up to ten seconds.
    bool closed = false;
    for (int i = 0; i < 200 && !closed; ++i) {
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) > 0)
            closed = closedByServer(fd);
        else
            sendText(fd, "a");
    }
    EXPECT_TRUE(closed);
    ::close(fd);
}

TEST_F(ConnectionTest, NoInputReachesTheHeadAsALineBreak)
{
    server->addDefaultHandlerForMethod("GET", HttpServer::requestFactory(), HttpServer::synchronous([](std::shared_ptr<HttpServerRequest> request) {
        auto response = HttpServerDataResponse::responseWithText("x");
        const auto value = request->query().find("v");
        response->setValueForAdditionalHeader("X-Echo", value == request->query().end() ? "" : value->second);
        response->setETag(value == request->query().end() ? "" : value->second);
        return response;
    }));
    start();
    const Reply reply = exchange(port(), get("/?v=a%0D%0AInjected:%20yes"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_FALSE(reply.has("injected"));
    EXPECT_EQ(reply.raw.find("Injected"), std::string::npos);
}

}  // namespace

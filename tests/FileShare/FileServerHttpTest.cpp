#include "FileServerFixture.h"

#include "WebServer/ServerTestSupport.h"
#include "WebServer/WebDavServer.h"

using ServerTestSupport::curl;
using ServerTestSupport::exchange;
using ServerTestSupport::get;

namespace {

class FileServerHttp : public FileServerFixture {
protected:
    FileServerHttp()
    {
        key = makeKey(1);
        stored = patternBytes(70000, 2);
        EXPECT_TRUE(server->uploadFile(source("a.bin", stored), "fileshare", "42"));
        stored = readBytes(shared("42"));
    }

    std::string request(const std::string& method, const std::string& path, const std::string& fields = {},
                        const std::string& body = {})
    {
        const std::string length = body.empty() ? "" : "Content-Length: " + std::to_string(body.size()) + "\r\n";
        return method + " " + path + " HTTP/1.1\r\nHost: localhost:" + std::to_string(port()) + "\r\n" + fields + length + "\r\n" + body;
    }

    Bytes stored;
};

} // namespace

TEST_F(FileServerHttp, GetAndHeadServeTheStoredBytes)
{
    const auto reply = exchange(port(), get("/fileshare/42"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, std::string(stored.begin(), stored.end()));

    EXPECT_EQ(curl({urlOf("42")}), std::string(stored.begin(), stored.end()));

    const auto head = exchange(port(), get("/fileshare/42", {}, "HEAD"));
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), std::to_string(stored.size()));
    EXPECT_TRUE(head.body.empty());

    EXPECT_EQ(exchange(port(), get("/fileshare/43")).status, 404);
}

TEST_F(FileServerHttp, OptionsAndPropfindAnswer)
{
    const auto options = exchange(port(), request("OPTIONS", "/fileshare/"));
    EXPECT_EQ(options.status, 200);
    EXPECT_EQ(options.header("dav"), "1");

    const auto listing = exchange(port(), request("PROPFIND", "/fileshare/", "Depth: 1\r\n"));
    EXPECT_EQ(listing.status, 207);
    EXPECT_NE(listing.body.find("<D:href>/fileshare/42</D:href>"), std::string::npos);
    EXPECT_NE(listing.body.find("<D:getcontentlength>" + std::to_string(stored.size())), std::string::npos);
}

TEST_F(FileServerHttp, EveryWriteMethodIsRefusedAndChangesNothing)
{
    const std::string destination = "Destination: " + urlOf("moved") + "\r\nOverwrite: T\r\n";
    const std::string lockBody = "<?xml version=\"1.0\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope><D:exclusive/></D:lockscope>"
                                 "<D:locktype><D:write/></D:locktype></D:lockinfo>";
    const std::string finder = "User-Agent: WebDAVFS/3.0\r\n";
    const std::vector<std::string> requests{
        request("PUT", "/fileshare/42", {}, "replaced"),
        request("PUT", "/fileshare/new", {}, "new"),
        request("DELETE", "/fileshare/42"),
        request("DELETE", "/fileshare/"),
        request("MKCOL", "/fileshare/made"),
        request("MOVE", "/fileshare/42", destination),
        request("COPY", "/fileshare/42", destination),
        request("LOCK", "/fileshare/42", finder + "Depth: 0\r\n", lockBody),
        request("UNLOCK", "/fileshare/42", finder + "Lock-Token: <urn:uuid:1>\r\n"),
        request("PROPPATCH", "/fileshare/42", {}, "<D:propertyupdate xmlns:D=\"DAV:\"/>"),
        request("POST", "/fileshare/42", {}, "x=1"),
    };
    for (const auto& text : requests) {
        SCOPED_TRACE(text.substr(0, text.find('\r')));
        EXPECT_EQ(exchange(port(), text).status, 403);
    }
    EXPECT_EQ(entries(sharedFolder()), std::set<std::string>{"42"});
    EXPECT_EQ(readBytes(shared("42")), stored);
    EXPECT_EQ(entries(server->getUploadPath()), std::set<std::string>{"fileshare"});
}

// A refused upload is answered before its body is read: a client announcing a huge body hears the 403 at
// once, and one that keeps sending is cut off after a little, never read in to the body's end.
TEST_F(FileServerHttp, ARefusedBodyIsNeverReadIn)
{
    const int fd = ServerTestSupport::connectTo(port());
    ServerTestSupport::sendText(fd, "PUT /fileshare/big HTTP/1.1\r\nHost: localhost\r\nContent-Length: 4000000000\r\n\r\n"
                                    + std::string(4096, 'x'));
    EXPECT_EQ(ServerTestSupport::parse(ServerTestSupport::readAll(fd)).status, 403);

    const std::string block(1 << 20, 'y');
    uint64_t sent = 0;
    for (ssize_t count = 0; sent < (uint64_t{256} << 20) && count >= 0; sent += static_cast<uint64_t>(std::max<ssize_t>(count, 0)))
        count = ::send(fd, block.data(), block.size(), MSG_NOSIGNAL);
    EXPECT_LT(sent, uint64_t{256} << 20);
    ::close(fd);
    EXPECT_EQ(entries(sharedFolder()), std::set<std::string>{"42"});
}

// curl, sending a body it cannot hold back, still gets the refusal rather than a reset connection.
TEST_F(FileServerHttp, CurlUploadingALargeFileHearsTheRefusal)
{
    const auto big = source("big.bin", patternBytes(32 << 20, 3));
    const std::string url = "http://127.0.0.1:" + std::to_string(port()) + "/fileshare/big.bin";
    EXPECT_EQ(curl({"-s", "-o", "/dev/null", "-w", "%{http_code}", "-H", "Expect:", "-T", big.string(), url}), "403");
}

TEST_F(FileServerHttp, TheSharedFolderAskedForByItsOwnPathIsA500)
{
    EXPECT_EQ(exchange(port(), get(sharedFolder().string())).status, 500);
    EXPECT_EQ(exchange(port(), get(sharedFolder().string(), {}, "HEAD")).status, 500);
}

TEST_F(FileServerHttp, ACopyInProgressIsNeverServed)
{
    const std::string scratch = std::string(WebDavServer::kScratchPrefix) + "abc123";
    writeFile(shared(scratch), "half");
    EXPECT_EQ(exchange(port(), get("/fileshare/" + scratch)).status, 403);
    const auto listing = exchange(port(), request("PROPFIND", "/fileshare/", "Depth: 1\r\n"));
    EXPECT_EQ(listing.body.find(scratch), std::string::npos);
}

#include "WebDavTestSupport.h"

#include <fcntl.h>
#include <sys/stat.h>

using namespace WebDavTestSupport;

namespace {

const std::string kFinder = "User-Agent: WebDAVFS/3.0\r\n";

class WebDavServerTest : public WebDavFixture {};

struct Case {
    std::string method;
    std::string path;
    std::string fields;
    int status;
    std::string message;
};

void expectCases(const std::vector<Case>& cases, const std::function<Reply(const Case&)>& send)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method + " " + c.path + " " + c.fields);
        const Reply reply = send(c);
        EXPECT_EQ(reply.status, c.status);
        if (!c.message.empty()) {
            EXPECT_EQ(message(reply), c.message);
        }
    }
}

TEST_F(WebDavServerTest, ChecksRunInOrderWithTheirStatusesAndMessages)
{
    makeFolder("/dir");
    write("/a.txt", "a");
    write("/.hidden", "h");
    write("/b.exe", "b");
    write("/c.txt", "c");
    server->setAllowedFileExtensions(std::vector<std::string>{"txt"});
    start();
    expectCases(
        {
            {"GET", "/none.txt", "", 404, "\"/none.txt\" does not exist"},
            {"GET", "/.hidden", "", 403, "Downlading item name \".hidden\" is not allowed"},
            {"GET", "/b.exe", "", 403, "Downlading item name \"b.exe\" is not allowed"},
            {"DELETE", "/a.txt", "Depth: 1\r\n", 400, "Unsupported 'Depth' header: 1"},
            {"DELETE", "/none.txt", "", 404, ""},
            {"DELETE", "/b.exe", "", 403, "Deleting item name \"b.exe\" is not allowed"},
            {"MKCOL", "/x/y", "", 409, "Missing intermediate collection(s) for \"/x/y\""},
            {"MKCOL", "/.new", "", 403, "Creating directory name \".new\" is not allowed"},
            {"MKCOL", "/dir", "", 405, "MKCOL not allowed on existing resource \"/dir\""},
            {"MKCOL", "/a.txt", "", 405, ""},
            {"PROPFIND", "/a.txt", "", 400, "Unsupported 'Depth' header: "},
            {"PROPFIND", "/a.txt", "Depth: infinity\r\n", 400, "Unsupported 'Depth' header: infinity"},
            {"PROPFIND", "/none", "Depth: 0\r\n", 404, ""},
            {"PROPFIND", "/b.exe", "Depth: 0\r\n", 403, "Retrieving properties for item name \"b.exe\" is not allowed"},
            {"COPY", "/a.txt", "Depth: 0\r\nDestination: http://localhost/c.txt\r\n", 400, "Unsupported 'Depth' header: 0"},
            {"COPY", "/a.txt", "Destination: http://elsewhere/c.txt\r\n", 400, "Malformed 'Destination' header: http://elsewhere/c.txt"},
            {"COPY", "/a.txt", "Destination: http://localhost/no/c.txt\r\n", 409, "Invalid destination \"/no/c.txt\""},
            {"COPY", "/b.exe", "Destination: http://localhost/c.txt\r\n", 403, "Copying from item name \"b.exe\" is not allowed"},
            {"MOVE", "/a.txt", "Destination: http://localhost/c.exe\r\n", 403, "Moving to item name \"c.exe\" is not allowed"},
            {"MOVE", "/a.txt", "Destination: http://localhost/c.txt\r\nOverwrite: F\r\n", 412, "Destination \"/c.txt\" already exists"},
            {"COPY", "/a.txt", "Destination: http://localhost/c.txt\r\nOverwrite: F\r\n", 412, ""},
            {"MOVE", "/a.txt", "Destination: http://localhost/dir\r\n", 403, "Moving to item name \"dir\" is not allowed"},
            {"LOCK", "/a.txt", "", 405, "LOCK method only allowed for Mac Finder"},
            {"UNLOCK", "/a.txt", "", 405, "UNLOCK method only allowed for Mac Finder"},
            {"UNLOCK", "/none", kFinder, 404, ""},
            {"UNLOCK", "/a.txt", kFinder, 400, "Missing 'Lock-Token' header"},
            {"UNLOCK", "/b.exe", kFinder + "Lock-Token: <x>\r\n", 403, "Unlocking item name \"b.exe\" is not allowed"},
            {"UNLOCK", "/a.txt", kFinder + "Lock-Token: <x>\r\n", 204, ""},
        },
        [this](const Case& c) { return request(c.method, c.path, c.fields); });
    EXPECT_EQ(read("/a.txt"), "a");
    EXPECT_TRUE(exists("/dir"));
}

TEST_F(WebDavServerTest, PutCreatesThenReplacesAndRefusesWhatItMust)
{
    makeFolder("/dir");
    write("/old.txt", "old");
    start();
    EXPECT_EQ(put("/new.txt", "fresh").status, 201);
    EXPECT_EQ(read("/new.txt"), "fresh");
    EXPECT_EQ(put("/old.txt", "newer").status, 204);
    EXPECT_EQ(read("/old.txt"), "newer");
    expectCases(
        {
            {"PUT", "/old.txt", "Range: bytes=0-1\r\n", 400, "Range uploads not supported"},
            {"PUT", "/no/x.txt", "", 409, "Missing intermediate collection(s) for \"/no/x.txt\""},
            {"PUT", "/dir", "", 405, "PUT not allowed on existing collection \"/dir\""},
            {"PUT", "/.x", "", 403, "Uploading file name \".x\" is not allowed"},
        },
        [this](const Case& c) { return put(c.path, "body", c.fields); });
    // No body at all: nothing to move into place.
    EXPECT_EQ(message(request("PUT", "/empty.txt")), "Failed moving uploaded file to \"/empty.txt\"");
    EXPECT_EQ(request("PUT", "/empty.txt", "Content-Length: 0\r\n").status, 201);
    EXPECT_EQ(read("/old.txt"), "newer");
}

TEST_F(WebDavServerTest, ClosedHooksRefuseWithoutChangingAnything)
{
    write("/a.txt", "a");
    server->permits = false;
    start();
    expectCases(
        {
            {"PUT", "/a.txt", "", 403, "Uploading file to \"/a.txt\" is not permitted"},
            {"DELETE", "/a.txt", "", 403, "Deleting \"/a.txt\" is not permitted"},
            {"MKCOL", "/d", "", 403, "Creating directory \"/d\" is not permitted"},
            {"MOVE", "/a.txt", "Destination: http://localhost/b.txt\r\n", 403, "Moving \"/a.txt\" to \"/b.txt\" is not permitted"},
            {"COPY", "/a.txt", "Destination: http://localhost/b.txt\r\n", 403, "Copying \"/a.txt\" to \"/b.txt\" is not permitted"},
        },
        [this](const Case& c) { return c.method == "PUT" ? put(c.path, "new") : request(c.method, c.path, c.fields); });
    EXPECT_EQ(read("/a.txt"), "a");
    EXPECT_FALSE(exists("/b.txt") || exists("/d"));
}

TEST_F(WebDavServerTest, MkcolRefusesOnlyARealBody)
{
    start();
    EXPECT_EQ(request("MKCOL", "/a").status, 201);
    EXPECT_EQ(request("MKCOL", "/b", "Content-Length: 0\r\n").status, 201);
    EXPECT_EQ(message(request("MKCOL", "/c", {}, "<x/>")), "Unexpected request body for MKCOL method");
    EXPECT_EQ(request("MKCOL", "/d", "Transfer-Encoding: chunked\r\n\r\n1\r\nx\r\n0\r\n").status, 415);
    EXPECT_TRUE(exists("/a") && exists("/b"));
    EXPECT_FALSE(exists("/c") || exists("/d"));
}

TEST_F(WebDavServerTest, DeleteRemovesAFolderWithItsContents)
{
    makeFolder("/d/e");
    write("/d/e/f.txt", "f");
    start();
    EXPECT_EQ(request("DELETE", "/d", "Depth: infinity\r\n").status, 204);
    EXPECT_FALSE(exists("/d"));
}

TEST_F(WebDavServerTest, GetServesFilesAndAnswersFoldersEmpty)
{
    makeFolder("/dir");
    write("/a.txt", "hello");
    start();
    const Reply file = request("GET", "/a.txt", "Range: bytes=1-2\r\n");
    EXPECT_EQ(file.status, 206);
    EXPECT_EQ(file.body, "el");
    const Reply folder = request("GET", "/dir");
    EXPECT_EQ(folder.status, 200);
    EXPECT_EQ(folder.body, "");
    const Reply head = request("HEAD", "/a.txt");
    EXPECT_EQ(head.header("content-length"), "5");
    EXPECT_EQ(head.body, "");
}

TEST_F(WebDavServerTest, AnswersThatClientsRelyOn)
{
    write("/a.txt", "hello");
    write("/b.txt", "b");
    write("/c.txt", "c");
    start();
    // A download resumed at its end learns that it is complete.
    const Reply beyond = request("GET", "/a.txt", "Range: bytes=5-\r\n");
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(beyond.header("content-range"), "bytes */5");
    // MOVE without "Overwrite" overwrites, as COPY does.
    EXPECT_EQ(transfer("MOVE", "/b.txt", "/c.txt").status, 204);
    EXPECT_EQ(read("/c.txt"), "b");
    EXPECT_FALSE(exists("/b.txt"));
    // The destination is a URI on this host, or a path alone; query and fragment are not part of the name.
    EXPECT_EQ(request("COPY", "/a.txt", "Destination: /d1.txt\r\n").status, 201);
    EXPECT_EQ(request("COPY", "/a.txt", "Destination: HTTP://LOCALHOST/d%202.txt?x=1#top\r\n").status, 201);
    EXPECT_EQ(read("/d1.txt") + read("/d 2.txt"), "hellohello");
    for (const char* other : {"http://elsewhere/localhost/e.txt", "http://localhost.evil/e.txt", "ftp://localhost/e.txt", "localhost/e.txt",
             "http://user@localhost/e.txt"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(request("COPY", "/a.txt", std::string("Destination: ") + other + "\r\n").status, 400);
    }
    EXPECT_FALSE(exists("/e.txt") || exists("/localhost"));
}

TEST_F(WebDavServerTest, OptionsAnnouncesClassTwoOnlyToTheLockingAgents)
{
    start();
    EXPECT_EQ(request("OPTIONS", "/").header("dav"), "1");
    EXPECT_EQ(request("OPTIONS", "/", kFinder).header("dav"), "1, 2");
    EXPECT_EQ(request("OPTIONS", "/", "User-Agent: WebDAVLib/1.0\r\n").header("dav"), "1, 2");
    EXPECT_EQ(request("OPTIONS", "/", "User-Agent: webdavfs/1\r\n").header("dav"), "1");
}

TEST_F(WebDavServerTest, PropfindListsTheFolderAndItsVisibleEntries)
{
    makeFolder("/dir/sub");
    write("/dir/b #1.txt", "12345");
    write("/dir/.hidden", "h");
    std::filesystem::create_symlink(root + "/dir/b #1.txt", root + "/dir/link");
    start();

    const Reply one = request("PROPFIND", "/dir", "Depth: 1\r\n");
    EXPECT_EQ(one.status, 207);
    EXPECT_EQ(one.header("content-type"), "application/xml; charset=\"utf-8\"");
    EXPECT_EQ(xpath(one.body, "//D:response/D:href"), (std::vector<std::string>{"/dir", "/dir/b%20%231.txt", "/dir/sub"}));
    EXPECT_EQ(xpath(one.body, "//D:response[D:propstat/D:prop/D:resourcetype/D:collection]/D:href"),
        (std::vector<std::string>{"/dir", "/dir/sub"}));
    EXPECT_EQ(xpath(one.body, "//D:getcontentlength"), std::vector<std::string>{"5"});
    EXPECT_EQ(xpath(one.body, "//D:getlastmodified").size(), 1u);
    EXPECT_EQ(xpath(one.body, "//D:status")[0], "HTTP/1.1 200 OK");

    const Reply zero = request("PROPFIND", "/dir/", "Depth: 0\r\n");
    EXPECT_EQ(xpath(zero.body, "//D:href"), std::vector<std::string>{"/dir/"});

    // Only what the body asks for.
    const std::string body = "<?xml version=\"1.0\"?><D:propfind xmlns:D=\"DAV:\"><D:prop><D:getcontentlength/><D:odd/></D:prop></D:propfind>";
    const Reply some = request("PROPFIND", "/dir/b%20%231.txt", "Depth: 0\r\n", body);
    EXPECT_EQ(xpath(some.body, "//D:prop/*").size(), 1u);
    EXPECT_EQ(xpath(some.body, "//D:getcontentlength"), std::vector<std::string>{"5"});
    const Reply all = request("PROPFIND", "/dir/sub", "Depth: 0\r\n", "<propfind xmlns=\"DAV:\"><allprop/></propfind>");
    EXPECT_EQ(xpath(all.body, "//D:resourcetype/D:collection").size(), 1u);

    const Reply invalid = request("PROPFIND", "/dir", "Depth: 0\r\n", "<nothing/>");
    EXPECT_EQ(invalid.status, 400);
    EXPECT_EQ(message(invalid), "Invalid DAV properties:\n<nothing/>");
}

// Each entry's properties are its own, whether its seconds are shared with others, fall in the same
// slot of the date cache (64 apart), or lie past 2262, where the clock's nanoseconds end.
TEST_F(WebDavServerTest, PropfindReportsEachEntrysRealSizeAndDates)
{
    const std::vector<std::pair<int64_t, std::string>> modified {
        {1000000000, "Sun, 09 Sep 2001 01:46:40 GMT"}, {1000000000, "Sun, 09 Sep 2001 01:46:40 GMT"},
        {1000000064, "Sun, 09 Sep 2001 01:47:44 GMT"}, {1700000001, "Tue, 14 Nov 2023 22:13:21 GMT"},
        {13569465600, "Sat, 01 Jan 2400 00:00:00 GMT"}};
    makeFolder("/many/sub");
    for (size_t i = 0; i < modified.size(); ++i) {
        const std::string name = "/many/f" + std::to_string(i) + ".txt";
        write(name, std::string(i * 1000 + 7, 'x'));
        const timespec times[2] = {{modified[i].first, 0}, {modified[i].first, 999999999}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (root + name).c_str(), times, 0), 0);
    }
    start();

    const std::string body = request("PROPFIND", "/many", "Depth: 1\r\n").body;
    const auto property = [&body](const std::string& href, const std::string& name) {
        return xpath(body, "//D:response[D:href='" + href + "']//D:" + name);
    };
    const auto created = [this](const std::string& path) {
        struct statx info {};
        ::statx(AT_FDCWD, (root + path).c_str(), 0, STATX_BTIME, &info);
        return std::vector<std::string>{HttpServerFunctions::formatISO8601Date(HttpServerFunctions::Date(std::chrono::seconds(info.stx_btime.tv_sec)))};
    };
    for (size_t i = 0; i < modified.size(); ++i) {
        const std::string href = "/many/f" + std::to_string(i) + ".txt";
        SCOPED_TRACE(href);
        EXPECT_EQ(property(href, "getlastmodified"), std::vector<std::string>{modified[i].second});
        EXPECT_EQ(property(href, "getcontentlength"), std::vector<std::string>{std::to_string(i * 1000 + 7)});
        EXPECT_EQ(property(href, "creationdate"), created(href));
    }
    EXPECT_EQ(property("/many/sub", "creationdate"), created("/many/sub"));
    EXPECT_TRUE(property("/many/sub", "getlastmodified").empty());
}

TEST_F(WebDavServerTest, LockPretendsForTheLockingAgentsAndEscapesWhatItEchoes)
{
    write("/a.txt", "a");
    start();
    const auto lockBody = [](const std::string& scope, const std::string& owner) {
        return "<?xml version=\"1.0\"?><D:lockinfo xmlns:D=\"DAV:\"><D:lockscope>" + scope
            + "</D:lockscope><D:locktype><D:write/></D:locktype><D:owner><D:href>" + owner + "</D:href></D:owner></D:lockinfo>";
    };
    const Reply lock = request("LOCK", "/a.txt", kFinder + "Depth: 0\r\nTimeout: Second-<60>\r\n", lockBody("<D:exclusive/>", "me &amp; &lt;you&gt;"));
    ASSERT_EQ(lock.status, 200);
    EXPECT_EQ(lock.header("content-type"), "application/xml; charset=\"utf-8\"");
    EXPECT_EQ(xpath(lock.body, "//D:owner/D:href"), std::vector<std::string>{"me & <you>"});
    EXPECT_EQ(xpath(lock.body, "//D:timeout"), std::vector<std::string>{"Second-<60>"});
    EXPECT_EQ(xpath(lock.body, "//D:lockroot/D:href"), std::vector<std::string>{"http://localhost//a.txt"});
    EXPECT_EQ(xpath(lock.body, "//D:activelock/D:lockscope/D:exclusive").size(), 1u);
    const auto token = xpath(lock.body, "//D:locktoken/D:href");
    ASSERT_EQ(token.size(), 1u);
    EXPECT_EQ(token[0].rfind("urn:uuid:", 0), 0u);
    EXPECT_EQ(token[0].size(), 9u + 36u);

    const Reply shared = request("LOCK", "/a.txt", kFinder + "Depth: 0\r\n", lockBody("<D:shared/>", "me"));
    EXPECT_EQ(message(shared), "Locking request \"shared/write/0\" for \"/a.txt\" is not allowed");
    EXPECT_EQ(request("LOCK", "/a.txt", kFinder + "Depth: 1\r\n", lockBody("<D:exclusive/>", "me")).status, 403);
    // Bodies that lack what a lock needs are refused, never trusted.
    for (const std::string& body : {std::string(), std::string("<D:lockinfo xmlns:D=\"DAV:\"/>"), lockBody("", "me"), std::string("garbage")}) {
        SCOPED_TRACE(body);
        const Reply reply = request("LOCK", "/a.txt", kFinder + "Depth: 0\r\n", body);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(message(reply).rfind("Invalid DAV properties:", 0), 0u);
    }
}

class RecordingDelegate : public WebDavServerDelegate {
public:
    std::vector<std::string> calls;
    void davServerDidDownloadFile(WebDavServer&, const std::string& path) override { calls.push_back("download " + path); }
    void davServerDidUploadFile(WebDavServer&, const std::string& path) override { calls.push_back("upload " + path); }
    void davServerDidMoveItem(WebDavServer&, const std::string& from, const std::string& to) override { calls.push_back("move " + from + " " + to); }
    void davServerDidCopyItem(WebDavServer&, const std::string& from, const std::string& to) override { calls.push_back("copy " + from + " " + to); }
    void davServerDidDeleteItem(WebDavServer&, const std::string& path) override { calls.push_back("delete " + path); }
    void davServerDidCreateDirectory(WebDavServer&, const std::string& path) override { calls.push_back("mkdir " + path); }
};

TEST_F(WebDavServerTest, TellsTheDelegateOnTheMainQueueAfterEachChange)
{
    const auto delegate = std::make_shared<RecordingDelegate>();
    server->setDelegate(delegate);
    start();
    EXPECT_EQ(put("/a.txt", "a").status, 201);
    EXPECT_EQ(request("GET", "/a.txt").status, 200);
    EXPECT_EQ(request("MKCOL", "/d").status, 201);
    EXPECT_EQ(transfer("COPY", "/a.txt", "/d/b.txt").status, 201);
    EXPECT_EQ(transfer("MOVE", "/d/b.txt", "/c.txt").status, 201);
    EXPECT_EQ(request("DELETE", "/c.txt").status, 204);
    EXPECT_EQ(request("GET", "/missing").status, 404);
    const std::vector<std::string> expected{"upload " + root + "/a.txt", "download " + root + "/a.txt", "mkdir " + root + "/d",
        "copy " + root + "/a.txt " + root + "/d/b.txt", "move " + root + "/d/b.txt " + root + "/c.txt", "delete " + root + "/c.txt"};
    EXPECT_TRUE(loop->runUntil([&] { return delegate->calls.size() >= expected.size(); }));
    loop->runUntilIdle();
    EXPECT_EQ(delegate->calls, expected);
}

}  // namespace

#include "WebDavTestSupport.h"

#include <fcntl.h>
#include <sys/resource.h>

using namespace WebDavTestSupport;

namespace {

class WebDavSafetyTest : public WebDavFixture {
protected:
    // base/secret.txt lies beside the served folder; root/out is a link to base.
    void placeSecretAndLink()
    {
        std::ofstream(base + "/secret.txt") << "secret";
        std::filesystem::create_symlink(base, root + "/out");
        std::filesystem::create_symlink(base + "/secret.txt", root + "/secret-link.txt");
    }
    bool secretIntact() const { return std::ifstream(base + "/secret.txt").good() && std::filesystem::exists(base + "/root"); }
};

TEST_F(WebDavSafetyTest, NoPathOrDestinationLeavesTheFolder)
{
    placeSecretAndLink();
    write("/a.txt", "a");
    start();
    for (const char* path : {"/../secret.txt", "/%2e%2e/secret.txt", "/x%2F..%2F..%2Fsecret.txt", "/out/secret.txt", "/secret-link.txt"}) {
        SCOPED_TRACE(path);
        const Reply reply = request("GET", path);
        EXPECT_NE(reply.status, 200);
        EXPECT_EQ(reply.body.find("secret\n"), std::string::npos);
        EXPECT_EQ(request("PROPFIND", path, "Depth: 0\r\n").body.find("<D:response>"), std::string::npos);
    }
    EXPECT_EQ(request("GET", "/out/secret.txt").status, 403);
    EXPECT_EQ(put("/out/new.txt", "x").status, 403);
    EXPECT_EQ(request("MKCOL", "/out/d").status, 403);
    EXPECT_EQ(transfer("COPY", "/a.txt", "/out/copied.txt").status, 403);
    EXPECT_EQ(transfer("MOVE", "/out/secret.txt", "/stolen.txt").status, 403);
    // ".." in a destination is resolved inside the folder.
    EXPECT_EQ(transfer("COPY", "/a.txt", "/../../b.txt").status, 201);
    EXPECT_EQ(read("/b.txt"), "a");
    // Links are listed nowhere, whatever they point to.
    const Reply listing = request("PROPFIND", "/", "Depth: 1\r\n");
    EXPECT_EQ(xpath(listing.body, "//D:href"), (std::vector<std::string>{"/", "/a.txt", "/b.txt"}));
    // Deleting a link removes the link, not what it points to.
    EXPECT_EQ(request("DELETE", "/out").status, 204);
    EXPECT_EQ(request("DELETE", "/secret-link.txt").status, 204);
    EXPECT_FALSE(exists("/out") || exists("/secret-link.txt"));
    EXPECT_TRUE(secretIntact());
    EXPECT_FALSE(std::filesystem::exists(base + "/new.txt") || std::filesystem::exists(base + "/copied.txt"));
}

TEST_F(WebDavSafetyTest, PathsAndDestinationsThatDoNotDecodeAre400)
{
    write("/a.txt", "a");
    start();
    EXPECT_EQ(request("GET", "/a%00.txt").status, 400);
    EXPECT_EQ(request("DELETE", "/a.txt%00").status, 400);
    EXPECT_EQ(request("GET", "/%FF").status, 400);
    EXPECT_EQ(transfer("COPY", "/a.txt", "/b%00.txt").status, 400);
    EXPECT_EQ(transfer("MOVE", "/a.txt", "/%C3%28").status, 400);
    EXPECT_EQ(transfer("MOVE", "/a.txt", "/%4").status, 400);
    EXPECT_EQ(read("/a.txt"), "a");
}

TEST_F(WebDavSafetyTest, TheServedFolderCannotBeDeletedMovedOrReplaced)
{
    write("/a.txt", "a");
    makeFolder("/d");
    start();
    for (const Reply& reply : {request("DELETE", "/"), request("DELETE", "/d/.."), transfer("MOVE", "/", "/d/x"),
             transfer("MOVE", "/a.txt", "/", "Overwrite: T\r\n"), transfer("COPY", "/d", "/", "Overwrite: T\r\n")})
        EXPECT_EQ(reply.status, 403);
    EXPECT_EQ(read("/a.txt"), "a");
    EXPECT_TRUE(exists("/d"));
}

TEST_F(WebDavSafetyTest, CopyAndMoveCheckTheSourceAndRefuseItselfAsDestination)
{
    write("/keep.txt", "keep");
    makeFolder("/d/e");
    start();
    // A missing source answers 404 and leaves the destination alone, even with Overwrite.
    const Reply missing = transfer("MOVE", "/none.txt", "/keep.txt", "Overwrite: T\r\n");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(message(missing), "\"/none.txt\" does not exist");
    EXPECT_EQ(read("/keep.txt"), "keep");
    for (const auto& [method, from, to] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"MOVE", "/keep.txt", "/keep.txt"}, {"COPY", "/keep.txt", "/./keep.txt"}, {"MOVE", "/d", "/d/e/f"}, {"COPY", "/d", "/d/g"}}) {
        SCOPED_TRACE(method + " " + from + " " + to);
        EXPECT_EQ(transfer(method, from, to, "Overwrite: T\r\n").status, 403);
    }
    EXPECT_EQ(read("/keep.txt"), "keep");
    EXPECT_FALSE(exists("/d/g"));
    EXPECT_TRUE(exists("/d/e"));
    // Without a Host header there is no way to read the destination.
    const Reply noHost = ServerTestSupport::exchange(server->port(), "COPY /keep.txt HTTP/1.1\r\nDestination: http://x/y.txt\r\n\r\n");
    EXPECT_EQ(noHost.status, 400);
}

TEST_F(WebDavSafetyTest, CopyAndMoveWithOverwriteReplaceTheDestinationWhole)
{
    write("/a.txt", "new");
    write("/b.txt", "old");
    makeFolder("/src/inner");
    write("/src/inner/s.txt", "s");
    makeFolder("/dst");
    write("/dst/stale.txt", "stale");
    start();
    EXPECT_EQ(transfer("COPY", "/a.txt", "/b.txt", "Overwrite: T\r\n").status, 204);
    EXPECT_EQ(read("/b.txt"), "new");
    EXPECT_EQ(transfer("COPY", "/a.txt", "/b.txt").status, 204);
    EXPECT_EQ(transfer("COPY", "/src", "/dst", "Overwrite: T\r\n").status, 204);
    EXPECT_EQ(read("/dst/inner/s.txt"), "s");
    EXPECT_FALSE(exists("/dst/stale.txt"));
    // A folder replaces a file and a file a folder.
    EXPECT_EQ(transfer("MOVE", "/dst", "/b.txt", "Overwrite: T\r\n").status, 204);
    EXPECT_EQ(read("/b.txt/inner/s.txt"), "s");
    EXPECT_EQ(transfer("MOVE", "/a.txt", "/src", "Overwrite: T\r\n").status, 204);
    EXPECT_EQ(read("/src"), "new");
    EXPECT_FALSE(exists("/a.txt") || exists("/dst"));
    // No scratch item is left behind.
    server->waitForScratchRemoval();
    for (const auto& entry : std::filesystem::directory_iterator(root))
        EXPECT_FALSE(entry.path().filename().string().starts_with(WebDavServer::kScratchPrefix)) << entry.path();
}

TEST_F(WebDavSafetyTest, UploadsLandBesideTheTargetAndStayHidden)
{
    write("/a.txt", "old");
    server->setAllowHiddenItems(true);
    server->permits = false;
    start();
    // A refused upload leaves the old file as it was; its body was received inside the folder.
    EXPECT_EQ(put("/a.txt", "new").status, 403);
    EXPECT_EQ(read("/a.txt"), "old");
    const std::string temporary = server->lastTemporaryFile();
    EXPECT_EQ(temporary.rfind(root + "/" + WebDavServer::kScratchPrefix, 0), 0u) << temporary;
    // It goes with the request, which ends just after its answer.
    EXPECT_TRUE(loop->runUntil([&] { return !std::filesystem::exists(temporary); }));

    // Scratch names stay hidden even where hidden items are allowed.
    write("/.visible", "v");
    write(std::string("/") + WebDavServer::kScratchPrefix + "x", "scratch");
    const Reply listing = request("PROPFIND", "/", "Depth: 1\r\n");
    EXPECT_EQ(xpath(listing.body, "//D:href"), (std::vector<std::string>{"/", "/.visible", "/a.txt"}));
    EXPECT_EQ(request("GET", std::string("/") + WebDavServer::kScratchPrefix + "x").status, 403);
    EXPECT_EQ(put(std::string("/") + WebDavServer::kScratchPrefix + "y", "y").status, 403);
}

TEST_F(WebDavSafetyTest, AFolderSwappedForALinkMeanwhileCannotRedirectAChange)
{
    // Between the checks and the change, /d becomes a link to the folder that holds the secret.
    makeFolder("/d");
    write("/d/secret.txt", "mine");
    write("/a.txt", "a");
    std::ofstream(base + "/secret.txt") << "secret";
    server->beforeChange = [this] {
        std::filesystem::rename(root + "/d", root + "/d-moved");
        std::filesystem::create_directory_symlink(base, root + "/d");
    };
    const auto undoSwap = [this] {
        std::filesystem::remove(root + "/d");
        std::filesystem::rename(root + "/d-moved", root + "/d");
    };
    start();
    EXPECT_EQ(request("DELETE", "/d/secret.txt").status, 204);
    EXPECT_FALSE(exists("/d-moved/secret.txt"));
    undoSwap();
    EXPECT_EQ(put("/d/secret.txt", "overwritten").status, 201);
    EXPECT_EQ(read("/d-moved/secret.txt"), "overwritten");
    undoSwap();
    EXPECT_EQ(transfer("COPY", "/a.txt", "/d/secret.txt").status, 204);
    EXPECT_EQ(read("/d-moved/secret.txt"), "a");
    undoSwap();
    write("/a.txt", "moved");
    EXPECT_EQ(transfer("MOVE", "/a.txt", "/d/secret.txt").status, 204);
    EXPECT_EQ(read("/d-moved/secret.txt"), "moved");
    std::ostringstream secret;
    secret << std::ifstream(base + "/secret.txt").rdbuf();
    EXPECT_EQ(secret.str(), "secret");
}

TEST_F(WebDavSafetyTest, ScratchItemsOfAnEarlierRunAreRemovedAtStart)
{
    const std::string upload = std::string("/") + WebDavServer::kScratchPrefix + "AbC123";
    const std::string copy = std::string("/") + WebDavServer::kScratchPrefix + "copy";
    write(upload, "half an upload");
    makeFolder(copy + "/item");
    write(copy + "/item/f.txt", "half a copy");
    write("/.dav-keep", "not ours");
    // A move that stopped after setting the old destination aside: it goes back to its empty place.
    const std::string aside = std::string("/") + WebDavServer::kScratchPrefix + "aside";
    makeFolder(aside + "/item");
    write(aside + "/item/old.txt", "old");
    write(aside + "/origin", "dest");
    // One that stopped after the new item took the place: the old one goes.
    const std::string replaced = std::string("/") + WebDavServer::kScratchPrefix + "replaced";
    makeFolder(replaced + "/item");
    write(replaced + "/origin", "taken");
    write("/taken", "new");
    const auto restarted = std::make_shared<WebDavServer>(root);
    EXPECT_FALSE(exists(upload) || exists(copy) || exists(aside) || exists(replaced));
    EXPECT_EQ(read("/.dav-keep"), "not ours");
    EXPECT_EQ(read("/dest/old.txt"), "old");
    EXPECT_EQ(read("/taken"), "new");
}

TEST_F(WebDavSafetyTest, TreesOfAnyDepthAreCopiedAndDeletedUnderATightDescriptorLimit)
{
    // 2,000 levels, made through a chain of descriptors (the path is far past PATH_MAX).
    makeFolder("/deep");
    int folder = ::open((root + "/deep").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 0; level < 2000; ++level) {
        ASSERT_EQ(::mkdirat(folder, "level", 0755), 0);
        const int inner = ::openat(folder, "level", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(folder);
        folder = inner;
    }
    ::close(::openat(folder, "bottom.txt", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ::close(folder);
    start();
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    rlimit tight = saved;
    tight.rlim_cur = 256;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    EXPECT_EQ(transfer("COPY", "/deep", "/copy").status, 201);
    const int depthOfCopy = [&] {
        int fd = ::open((root + "/copy").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int depth = 0;
        for (int inner; (inner = ::openat(fd, "level", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) >= 0; ++depth) {
            ::close(fd);
            fd = inner;
        }
        const bool bottom = ::faccessat(fd, "bottom.txt", F_OK, 0) == 0;
        ::close(fd);
        return bottom ? depth : -1;
    }();
    EXPECT_EQ(depthOfCopy, 2000);
    EXPECT_EQ(request("DELETE", "/deep").status, 204);
    EXPECT_EQ(request("DELETE", "/copy").status, 204);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_FALSE(exists("/deep") || exists("/copy"));
}

TEST_F(WebDavSafetyTest, PreconditionsGuardEveryChange)
{
    write("/a.txt", "old");
    start();
    const std::string tag = request("GET", "/a.txt").header("etag");
    ASSERT_FALSE(tag.empty());
    const struct {
        std::string method;
        std::string fields;
        int status;
    } cases[] = {
        {"PUT", "If-None-Match: *\r\n", 412},
        {"PUT", "If-Match: \"other\"\r\n", 412},
        {"PUT", "If-Unmodified-Since: Thu, 01 Jan 1970 00:00:00 GMT\r\n", 412},
        {"DELETE", "If-Match: \"other\"\r\n", 412},
        {"MOVE", "Destination: http://localhost/b.txt\r\nIf-Match: \"other\"\r\n", 412},
        {"COPY", "Destination: http://localhost/b.txt\r\nIf-None-Match: \"" + tag + "\"\r\n", 412},
        {"PUT", "If-Match: \"" + tag + "\"\r\n", 204},
    };
    for (const auto& [method, fields, status] : cases)
        EXPECT_EQ(request(method, "/a.txt", fields, method == "PUT" ? "new" : "").status, status) << method << " " << fields;
    EXPECT_EQ(read("/a.txt"), "new");
    EXPECT_FALSE(exists("/b.txt"));
    EXPECT_EQ(put("/c.txt", "created", "If-None-Match: *\r\n").status, 201);
}

TEST(WebDavXmlTest, HrefsEscapeEveryReservedCharacter)
{
    EXPECT_EQ(WebDavXml::escapeHref("/a b/#?&+<>%é~-._"), "/a%20b/%23%3F%26%2B%3C%3E%25%C3%A9~-._");
}

}  // namespace

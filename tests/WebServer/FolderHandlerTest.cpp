#include "ServerTestSupport.h"

#include <filesystem>
#include <fstream>

using namespace ServerTestSupport;

namespace {

// base/served is served under /files/; base/secret.txt lies beside it, out of reach.
class FolderHandlerTest : public ServerFixture {
protected:
    FolderHandlerTest()
    {
        char pattern[] = "/tmp/http-folder-XXXXXX";
        base = ::mkdtemp(pattern);
        served = base + "/served";
        std::filesystem::create_directories(served + "/inner");
        std::ofstream(base + "/secret.txt") << "secret";
        std::ofstream(served + "/a") << "a";
        std::ofstream(served + "/inner/page.txt") << "inside";
        server->addGETHandlerForBasePath("/files/", served, "", 0, true);
    }
    ~FolderHandlerTest() override { std::filesystem::remove_all(base); }

    std::string base;
    std::string served;
};

TEST_F(FolderHandlerTest, NoLinkLeadsOutAndNulIsRefused)
{
    std::filesystem::create_directory_symlink(base, served + "/out");
    std::filesystem::create_directory_symlink("inner", served + "/alias");
    start();
    EXPECT_EQ(exchange(port(), get("/files/out/secret.txt")).status, 404);
    const Reply listing = exchange(port(), get("/files/out/"));
    EXPECT_EQ(listing.status, 404);
    EXPECT_EQ(listing.body.find("secret.txt"), std::string::npos);
    // A link that stays inside keeps working.
    EXPECT_EQ(exchange(port(), get("/files/alias/page.txt")).body, "inside");
    // NUL would cut the name short at the system call: "a" served as HTML.
    EXPECT_EQ(exchange(port(), get("/files/a%00.html")).status, 400);
}

}  // namespace

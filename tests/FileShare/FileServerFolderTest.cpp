#include "FileServerFixture.h"

namespace {

using FileServerFolder = FileServerFixture;

} // namespace

TEST_F(FileServerFolder, FoldersAndUrlsLieUnderTheCachesFolder)
{
    EXPECT_TRUE(server->isRunning());
    EXPECT_EQ(server->getUploadPath(), cache() / "server");
    EXPECT_TRUE(fs::is_directory(sharedFolder()));
    EXPECT_EQ(server->getUploadPathWithDir("fileshare", "12"), cache() / "server" / "fileshare" / "12");

    const std::string url = server->getServerURL().value_or("");
    EXPECT_EQ(url, "http://localhost:" + std::to_string(port()) + "/");
    EXPECT_EQ(server->getShareFileBaseURL(), url + "fileshare");
}

TEST_F(FileServerFolder, WithoutAGivenFolderTheServedFolderIsOursInTheUserCaches)
{
    const ScopedEnv cacheHome("XDG_CACHE_HOME", (root / "xdg").string());
    auto options = this->options();
    options.cachesFolder.reset();
    const FileServer other(options);
    EXPECT_EQ(other.getUploadPath(), root / "xdg" / "pelkor" / "server");
    EXPECT_TRUE(fs::is_directory(root / "xdg" / "pelkor" / "server" / "fileshare"));
}

TEST_F(FileServerFolder, ClearLeavesExactlyAnEmptySharedFolderAndNothingOutsideChanges)
{
    const fs::path served = server->getUploadPath();
    fs::create_directories(served / "other" / "deep");
    writeFile(served / "other" / "deep" / "f", "x");
    writeFile(served / "loose", "y");
    writeFile(shared("1"), "z");
    fs::create_directories(sharedFolder() / "sub");
    // Links out of the folder go; what they lead to stays.
    fs::create_directories(root / "outside" / "keep");
    writeFile(root / "outside" / "keep" / "g", "kept");
    fs::create_directory_symlink(root / "outside", served / "link");
    fs::create_directory_symlink(root / "outside", sharedFolder() / "link");
    writeFile(cache() / "sibling", "kept too");

    server->clear();
    EXPECT_EQ(entries(served), std::set<std::string>{"fileshare"});
    EXPECT_TRUE(fs::is_directory(sharedFolder()));
    EXPECT_TRUE(entries(sharedFolder()).empty());
    EXPECT_EQ(readFile(root / "outside" / "keep" / "g"), "kept");
    EXPECT_EQ(readFile(cache() / "sibling"), "kept too");
    EXPECT_EQ(entries(cache()), (std::set<std::string>{"server", "sibling"}));

    // The server keeps serving the folder it emptied.
    EXPECT_TRUE(server->uploadFile(source("a", patternBytes(10, 1)), "fileshare", "2"));
}

TEST_F(FileServerFolder, RemoveFileByNameRemovesThatFileOnly)
{
    writeFile(shared("1"), "a");
    writeFile(shared("2"), "b");
    writeFile(server->getUploadPath() / "victim", "c");
    writeFile(cache() / "victim", "d");

    server->removeFileByName("1");
    server->removeFileByName("404");
    for (const char* fileId : {"", ".", "..", "../victim", "../../victim", "/victim"})
        server->removeFileByName(fileId);
    EXPECT_EQ(entries(sharedFolder()), std::set<std::string>{"2"});
    EXPECT_EQ(readFile(server->getUploadPath() / "victim"), "c");
    EXPECT_EQ(readFile(cache() / "victim"), "d");
}

TEST_F(FileServerFolder, APortInUseLeavesTheServerStoppedAndGivesNoUrl)
{
    auto options = this->options();
    options.cachesFolder = root / "second";
    options.server.port = port();
    FileServer other(options);

    EXPECT_FALSE(other.isRunning());
    EXPECT_FALSE(other.getServerURL());
    EXPECT_FALSE(other.getShareFileBaseURL());
    const fs::path sharedOfOther = other.getUploadPath() / "fileshare";
    ASSERT_TRUE(fs::is_directory(sharedOfOther));
    // With no URL the file could never be fetched: it is not copied, and the caller is told.
    EXPECT_FALSE(other.uploadFile(source("a", patternBytes(10, 2)), "fileshare", "3"));
    EXPECT_TRUE(entries(sharedOfOther).empty());
}

TEST_F(FileServerFolder, ACachesFolderThatCannotHoldFoldersLeavesTheServerOff)
{
    writeFile(root / "file", "not a folder");
    auto options = this->options();
    options.cachesFolder = root / "file";
    FileServer other(options);

    EXPECT_FALSE(other.isRunning());
    EXPECT_TRUE(other.getUploadPath().empty());
    EXPECT_FALSE(other.getUploadPathWithDir("fileshare", "1"));
    EXPECT_FALSE(other.uploadFile(source("a", patternBytes(10, 3)), "fileshare", "1"));
    other.clear();
    other.removeFileByName("1");
    EXPECT_EQ(readFile(root / "file"), "not a folder");
}

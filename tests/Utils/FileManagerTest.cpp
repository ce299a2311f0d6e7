#include "Utils/FileManager.h"

#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

TEST(FileManager, RemoveFileAtDirPathEmptiesNestedFoldersButKeepsTheFolder)
{
    TempDir dir;
    const fs::path shared = dir / "fileshare";
    fs::create_directories(shared / "a" / "b");
    writeFile(shared / "a" / "b" / "deep.txt", "x");
    writeFile(shared / "top.txt", "y");
    // A link to a folder outside goes; what it points at stays.
    fs::create_directories(dir / "outside");
    writeFile(dir / "outside" / "keep.txt", "z");
    fs::create_directory_symlink(dir / "outside", shared / "link");

    EXPECT_TRUE(FileManager::removeFileAtDirPath(shared));
    EXPECT_TRUE(fs::is_directory(shared));
    EXPECT_TRUE(fs::is_empty(shared));
    EXPECT_EQ(readFile(dir / "outside" / "keep.txt"), "z");

    EXPECT_FALSE(FileManager::removeFileAtDirPath(dir / "missing"));
}

TEST(FileManager, CreateFileAtPathKeepsExistingContentsAndMakesMissingFolders)
{
    TempDir dir;
    writeFile(dir / "log.txt", "earlier lines\n");
    EXPECT_EQ(FileManager::createFileAtPath(dir.path(), "log.txt"), dir / "log.txt");
    EXPECT_EQ(readFile(dir / "log.txt"), "earlier lines\n");

    const fs::path nested = dir / "new" / "deeper";
    const auto made = FileManager::createFileAtPath(nested, "empty.log");
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, nested / "empty.log");
    EXPECT_TRUE(fs::is_regular_file(*made));
    EXPECT_EQ(fs::file_size(*made), 0u);

    fs::create_directory(dir / "afolder");
    EXPECT_FALSE(FileManager::createFileAtPath(dir.path(), "afolder"));
    // The folder path names a file: nothing can be made inside it.
    EXPECT_FALSE(FileManager::createFileAtPath(dir / "log.txt", "x"));
    EXPECT_FALSE(FileManager::createDirAtPath(dir / "log.txt", "x"));
}

TEST(FileManager, ListsAndRemovesSingleItems)
{
    TempDir dir;
    EXPECT_TRUE(FileManager::createDirAtPath(dir.path(), "fileshare"));
    writeFile(dir / "b.txt", "b");

    auto names = FileManager::getFilesFromPath(dir.path());
    ASSERT_TRUE(names);
    std::sort(names->begin(), names->end());
    EXPECT_EQ(*names, (std::vector<std::string>{"b.txt", "fileshare"}));
    EXPECT_FALSE(FileManager::getFilesFromPath(dir / "missing"));

    EXPECT_TRUE(FileManager::removeFileAtPath(dir / "fileshare"));
    EXPECT_TRUE(FileManager::removeFileAtPath(dir / "never-there"));
    EXPECT_EQ(FileManager::getFilesFromPath(dir.path()), (std::vector<std::string>{"b.txt"}));
}

class UserFolders : public ::testing::Test {
protected:
    TempDir dir;
    ScopedEnv home{"HOME", (dir / "home").string()};
    ScopedEnv downloads{"XDG_DOWNLOAD_DIR", std::nullopt};
    ScopedEnv config{"XDG_CONFIG_HOME", std::nullopt};
    ScopedEnv cache{"XDG_CACHE_HOME", std::nullopt};
};

TEST_F(UserFolders, DownloadsFolderFollowsTheXdgLookupOrder)
{
    EXPECT_EQ(FileManager::downloadsFolder(), dir / "home" / "Downloads");

    // The user-dirs file in the default config folder: "$HOME/..." form, comments skipped.
    fs::create_directories(dir / "home" / ".config");
    writeFile(dir / "home" / ".config" / "user-dirs.dirs",
              "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
              "XDG_DOWNLOAD_DIR=\"$HOME/Fetched Files\"\n");
    EXPECT_EQ(FileManager::downloadsFolder(), dir / "home" / "Fetched Files");

    // $XDG_CONFIG_HOME moves the file; an absolute entry with an escaped quote stands as written.
    fs::create_directories(dir / "cfg");
    writeFile(dir / "cfg" / "user-dirs.dirs", "  XDG_DOWNLOAD_DIR = \"/srv/my \\\"dl\\\"\"\n");
    {
        ScopedEnv moved("XDG_CONFIG_HOME", (dir / "cfg").string());
        EXPECT_EQ(FileManager::downloadsFolder(), fs::path("/srv/my \"dl\""));
    }

    // Malformed entries are not folders: the lookup falls through to $HOME/Downloads.
    writeFile(dir / "home" / ".config" / "user-dirs.dirs",
              "XDG_DOWNLOAD_DIR=\"relative/dl\"\nXDG_DOWNLOAD_DIR=\"$HOMEX/dl\"\nXDG_DOWNLOAD_DIR=\"/unterminated\n");
    EXPECT_EQ(FileManager::downloadsFolder(), dir / "home" / "Downloads");

    // The environment wins; a relative value does not count.
    {
        ScopedEnv relative("XDG_DOWNLOAD_DIR", "dl");
        EXPECT_EQ(FileManager::downloadsFolder(), dir / "home" / "Downloads");
    }
    ScopedEnv direct("XDG_DOWNLOAD_DIR", (dir / "direct").string());
    EXPECT_EQ(FileManager::downloadsFolder(), dir / "direct");

    const auto made = FileManager::downloadDirWithPath("pelkor");
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, dir / "direct" / "pelkor");
    EXPECT_TRUE(fs::is_directory(*made));
}

TEST_F(UserFolders, ConfigFolderIsTheApplicationsXdgConfigFolder)
{
    EXPECT_EQ(FileManager::configFolder(), dir / "home" / ".config" / "pelkor");
    {
        ScopedEnv relative("XDG_CONFIG_HOME", "config");
        EXPECT_EQ(FileManager::configFolder(), dir / "home" / ".config" / "pelkor");
    }
    ScopedEnv moved("XDG_CONFIG_HOME", (dir / "config").string());
    EXPECT_EQ(FileManager::configFolder(), dir / "config" / "pelkor");
    EXPECT_FALSE(fs::exists(dir / "config"));
}

TEST_F(UserFolders, CachesFolderIsTheApplicationsXdgCacheFolder)
{
    EXPECT_EQ(FileManager::cachesFolder(), dir / "home" / ".cache" / "pelkor");

    ScopedEnv moved("XDG_CACHE_HOME", (dir / "cache").string());
    EXPECT_EQ(FileManager::cachesFolder(), dir / "cache" / "pelkor");

    const auto server = FileManager::cacheFileDirWithPath("server");
    ASSERT_TRUE(server);
    EXPECT_EQ(*server, dir / "cache" / "pelkor" / "server");
    EXPECT_TRUE(fs::is_directory(*server));

    EXPECT_EQ(FileManager::cacheFileWithPath("other", "a.bin"), dir / "cache" / "pelkor" / "other" / "a.bin");
    EXPECT_TRUE(fs::is_directory(dir / "cache" / "pelkor" / "other"));
    EXPECT_FALSE(fs::exists(dir / "cache" / "pelkor" / "other" / "a.bin"));
}

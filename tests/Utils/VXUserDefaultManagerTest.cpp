#include "Utils/VXUserDefaultManager.h"

#include "DescriptorFlags.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

class VXUserDefaultManagerTest : public testing::Test {
protected:
    fs::path file() const { return dir / "config" / "pelkor" / "settings.json"; }

    TempDir dir;
};

TEST_F(VXUserDefaultManagerTest, ValuesOutliveTheStoreInItsFile)
{
    {
        VXUserDefaultManager settings(file());
        EXPECT_TRUE(settings.setObject({{"width", 1920}, {"names", {"a", "b"}}}, "layout"));
        EXPECT_TRUE(settings.setFloat(0.75f, "volume"));
        EXPECT_TRUE(settings.setBool(true, "requestScreenRecordingPermissions"));
        EXPECT_TRUE(settings.setObject("text", "label"));
    }
    VXUserDefaultManager settings(file());
    EXPECT_EQ(settings.objectForKey("layout"), (nlohmann::json{{"width", 1920}, {"names", {"a", "b"}}}));
    EXPECT_EQ(settings.objectForKey("label"), nlohmann::json("text"));
    EXPECT_FLOAT_EQ(settings.floatForKey("volume"), 0.75f);
    EXPECT_TRUE(settings.boolForKey("requestScreenRecordingPermissions"));

    EXPECT_TRUE(settings.removeObjectForKey("requestScreenRecordingPermissions"));
    EXPECT_FALSE(settings.objectForKey("requestScreenRecordingPermissions"));
    EXPECT_FALSE(VXUserDefaultManager(file()).boolForKey("requestScreenRecordingPermissions"));
    EXPECT_TRUE(settings.removeObjectForKey("never-there"));

    // Only the file itself is left in the folder: no temporary copy.
    std::vector<fs::path> entries(fs::directory_iterator(file().parent_path()), fs::directory_iterator());
    EXPECT_EQ(entries, std::vector<fs::path>{file()});
}

TEST_F(VXUserDefaultManagerTest, TheFileBeingWrittenIsNeverInheritedByAChild)
{
    // A value large enough that the write takes a while; the descriptor is caught while it is open.
    VXUserDefaultManager settings(file());
    const std::string large(16 << 20, 'x');
    std::optional<bool> closesOnExec;
    std::atomic<bool> writing = true;
    std::atomic<bool> caught = false;
    std::thread writer([&] {
        for (int i = 0; i < 20 && !caught; ++i)
            settings.setObject(large + std::to_string(i), "large");
        writing = false;
    });
    while (writing && !closesOnExec)
        closesOnExec = DescriptorFlags::closesOnExec(file().parent_path().string() + "/.settings.json.");
    caught = true;
    writer.join();
    EXPECT_EQ(closesOnExec, true);
}

TEST_F(VXUserDefaultManagerTest, MissingAndOtherKindsOfValueReadAsNothing)
{
    VXUserDefaultManager settings(file());
    EXPECT_FALSE(settings.objectForKey("absent"));
    EXPECT_EQ(settings.floatForKey("absent"), 0.0f);
    EXPECT_FALSE(settings.boolForKey("absent"));

    settings.setObject("yes", "text");
    EXPECT_EQ(settings.floatForKey("text"), 0.0f);
    EXPECT_FALSE(settings.boolForKey("text"));
    settings.setObject(2, "number");
    EXPECT_TRUE(settings.boolForKey("number"));
    EXPECT_FLOAT_EQ(settings.floatForKey("number"), 2.0f);
    settings.setBool(true, "flag");
    EXPECT_FLOAT_EQ(settings.floatForKey("flag"), 0.0f);
}

TEST_F(VXUserDefaultManagerTest, ACorruptFileReadsAsEmptyAndIsReplacedOnTheNextChange)
{
    fs::create_directories(file().parent_path());
    for (const std::string& text : {std::string("{\"a\": tru"), std::string("[1, 2]"), std::string("\"text\""),
                                    std::string(), std::string("\xff\xfe{}")}) {
        writeFile(file(), text);
        VXUserDefaultManager settings(file());
        EXPECT_FALSE(settings.objectForKey("a")) << text;
    }
    writeFile(file(), "{\"a\": tru");
    VXUserDefaultManager settings(file());
    EXPECT_TRUE(settings.setBool(true, "b"));
    EXPECT_EQ(nlohmann::json::parse(readFile(file())), (nlohmann::json{{"b", true}}));
}

TEST_F(VXUserDefaultManagerTest, AnOversizedFileIsNotRead)
{
    fs::create_directories(file().parent_path());
    std::string text = "{\"a\": 1, \"pad\": \"";
    text.append(VXUserDefaultManager::kMaxFileSize, 'x');
    text += "\"}";
    writeFile(file(), text);
    EXPECT_FALSE(VXUserDefaultManager(file()).objectForKey("a"));
}

TEST_F(VXUserDefaultManagerTest, NumbersPastAFloatReadAsTheLargestFloat)
{
    fs::create_directories(file().parent_path());
    writeFile(file(), "{\"big\": 1e300, \"small\": -1e300}");
    VXUserDefaultManager settings(file());
    EXPECT_EQ(settings.floatForKey("big"), std::numeric_limits<float>::max());
    EXPECT_EQ(settings.floatForKey("small"), -std::numeric_limits<float>::max());
}

TEST_F(VXUserDefaultManagerTest, TextThatIsNotUtf8IsStoredWithReplacements)
{
    VXUserDefaultManager settings(file());
    EXPECT_TRUE(settings.setObject(std::string("a\xff"), "odd"));
    EXPECT_TRUE(settings.setObject(1, "plain"));
    VXUserDefaultManager reread(file());
    EXPECT_EQ(reread.objectForKey("plain"), nlohmann::json(1));
    EXPECT_EQ(reread.objectForKey("odd"), nlohmann::json("a\xEF\xBF\xBD"));
}

TEST_F(VXUserDefaultManagerTest, AFolderThatCannotBeWrittenKeepsTheChangeInMemory)
{
    if (::geteuid() == 0) {
        // Root writes anywhere: a file where the folder should be stops it instead.
        fs::create_directories(dir / "config");
        writeFile(dir / "config" / "pelkor", "not a folder");
    } else {
        fs::create_directories(file().parent_path());
        ::chmod(file().parent_path().c_str(), 0500);
    }
    VXUserDefaultManager settings(file());
    EXPECT_FALSE(settings.setBool(true, "flag"));
    EXPECT_TRUE(settings.boolForKey("flag"));
    EXPECT_FALSE(fs::exists(file()));
    ::chmod(file().parent_path().c_str(), 0700);
}

TEST_F(VXUserDefaultManagerTest, ChangesFromManyThreadsAllReachTheFile)
{
    VXUserDefaultManager settings(file());
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&settings, t] {
            for (int i = 0; i < 25; ++i) {
                const std::string key = std::to_string(t) + "-" + std::to_string(i);
                settings.setObject(i, key);
                EXPECT_EQ(settings.objectForKey(key), nlohmann::json(i));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    VXUserDefaultManager reread(file());
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 25; ++i) {
            EXPECT_EQ(reread.objectForKey(std::to_string(t) + "-" + std::to_string(i)), nlohmann::json(i));
        }
    }
}

TEST_F(VXUserDefaultManagerTest, WithoutAPathTheSettingsLiveInMemory)
{
    VXUserDefaultManager settings{fs::path()};
    EXPECT_FALSE(settings.setFloat(1.5f, "f"));
    EXPECT_FLOAT_EQ(settings.floatForKey("f"), 1.5f);
}

TEST_F(VXUserDefaultManagerTest, TheDefaultFileIsInTheXdgConfigFolder)
{
    ScopedEnv config("XDG_CONFIG_HOME", (dir / "config").string());
    EXPECT_EQ(VXUserDefaultManager::defaultPath(), file());
    ScopedEnv home("HOME", (dir / "home").string());
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(VXUserDefaultManager::defaultPath(), dir / "home" / ".config" / "pelkor" / "settings.json");
}

} // namespace

#include "Utils/AppInfo.h"

#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <vector>

namespace fs = std::filesystem;

TEST(AppInfo, ReadsTheKeysAndTakesTheFilesFolderAsResources)
{
    TempDir dir;
    writeFile(dir / "Info.json",
              R"({"EnableROZI": false, "CFBundleExecutable": "caster", "CFBundleShortVersionString": "2.3.4"})");
    const AppInfo info = AppInfo::fromFile(dir / "Info.json");
    EXPECT_FALSE(info.enableROZI());
    EXPECT_EQ(info.bundleExecutable(), "caster");
    EXPECT_EQ(info.shortVersionString(), "2.3.4");
    EXPECT_EQ(info.resourcesFolder(), dir.path() / "");

    writeFile(dir / "Info.json", R"({"EnableROZI": true})");
    EXPECT_TRUE(AppInfo::fromFile(dir / "Info.json").enableROZI());
}

TEST(AppInfo, WithoutAFileTheBuiltInValuesHold)
{
    TempDir dir;
    for (const std::string& text : std::vector<std::string>{"", "not json", "[1, 2]", "\"text\"", std::string(70000, ' ') + "{}"}) {
        writeFile(dir / "Info.json", text);
        const AppInfo info = AppInfo::fromFile(dir / "Info.json");
        EXPECT_TRUE(info.enableROZI()) << text.substr(0, 20);
        EXPECT_EQ(info.bundleExecutable(), "pelkor");
        EXPECT_EQ(info.shortVersionString(), "0.1.0");
    }
    const AppInfo missing = AppInfo::fromFile(dir / "absent" / "Info.json");
    EXPECT_TRUE(missing.enableROZI());
    EXPECT_EQ(missing.resourcesFolder(), dir / "absent" / "");
}

TEST(AppInfo, AMissingOrMistypedRelayKeyTurnsTheRelayOff)
{
    TempDir dir;
    for (const char* text : {R"({})", R"({"EnableROZI": "YES"})", R"({"EnableROZI": 1})", R"({"EnableROZI": null})"}) {
        writeFile(dir / "Info.json", text);
        EXPECT_FALSE(AppInfo::fromFile(dir / "Info.json").enableROZI()) << text;
    }
    writeFile(dir / "Info.json", R"({"CFBundleExecutable": 7, "CFBundleShortVersionString": ["1"]})");
    const AppInfo info = AppInfo::fromFile(dir / "Info.json");
    EXPECT_EQ(info.bundleExecutable(), "pelkor");
    EXPECT_EQ(info.shortVersionString(), "0.1.0");
}

TEST(AppInfo, TheApplicationFindsTheShippedFileUnlessOverridden)
{
    ScopedEnv noOverride("PELKOR_INFO", std::nullopt);
    const AppInfo& info = AppInfo::main();
    EXPECT_TRUE(fs::is_regular_file(info.resourcesFolder() / AppInfo::kFileName));
    EXPECT_TRUE(fs::is_regular_file(info.resourcesFolder() / "installVirtualDrivers.sh"));
    EXPECT_TRUE(info.enableROZI());
    EXPECT_EQ(info.bundleExecutable(), "pelkor");
    EXPECT_EQ(info.shortVersionString(), "0.1.0");
}

TEST(AppInfo, ReadInfoFileGivesTheObject)
{
    TempDir dir;
    writeFile(dir / "a.json", R"({"k": [1, "two"]})");
    const auto object = AppInfo::readInfoFile(dir / "a.json");
    ASSERT_TRUE(object);
    EXPECT_EQ((*object)["k"][1], "two");
    EXPECT_FALSE(AppInfo::readInfoFile(dir.path()));
}

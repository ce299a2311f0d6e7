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
    EXPECT_FALSE(AppInfo::readInfoFile(dir.path()));
}

// The update service is named by the file; without a host nothing is offered, and a port out of
// range keeps the default.
TEST(AppInfo, TheUpdateServiceComesFromTheFile)
{
    TempDir dir;
    writeFile(dir / "Info.json", "{}");
    const AppInfo none = AppInfo::fromFile(dir / "Info.json");
    EXPECT_EQ(none.updateHost(), "");
    EXPECT_EQ(none.updatePort(), 8502);
    EXPECT_EQ(none.updatePath(), "/mirovan/getversion");
    writeFile(dir / "Info.json", R"({"PKUpdateHost": "updates.example", "PKUpdatePort": 9443, "PKUpdatePath": "/v"})");
    const AppInfo set = AppInfo::fromFile(dir / "Info.json");
    EXPECT_EQ(set.updateHost(), "updates.example");
    EXPECT_EQ(set.updatePort(), 9443);
    EXPECT_EQ(set.updatePath(), "/v");
    for (const char* port : {"0", "70000", "\"8502\"", "-1", "1e9"}) {
        writeFile(dir / "Info.json", std::string(R"({"PKUpdatePort": )") + port + "}");
        EXPECT_EQ(AppInfo::fromFile(dir / "Info.json").updatePort(), 8502) << port;
    }
}

// An unreadable file keeps the built-in values (relay on); a readable one without a boolean relay key
// turns the relay off; mistyped names keep the built-in ones.
TEST(AppInfo, BadFilesAndMistypedKeysFallBack)
{
    TempDir dir;
    struct Case {
        std::string text;
        bool relay;
    };
    for (const Case& c : std::vector<Case>{{"", true}, {"not json", true}, {"[1, 2]", true}, {"\"text\"", true},
                                           {std::string(70000, ' ') + "{}", true}, {"{}", false},
                                           {R"({"EnableROZI": "YES"})", false}, {R"({"EnableROZI": 1})", false},
                                           {R"({"EnableROZI": null})", false}, {R"({"EnableROZI": true})", true},
                                           {R"({"CFBundleExecutable": 7, "CFBundleShortVersionString": ["1"]})", false}}) {
        SCOPED_TRACE(c.text.substr(0, 40));
        writeFile(dir / "Info.json", c.text);
        const AppInfo info = AppInfo::fromFile(dir / "Info.json");
        EXPECT_EQ(info.enableROZI(), c.relay);
        EXPECT_EQ(info.bundleExecutable(), "pelkor");
        EXPECT_EQ(info.shortVersionString(), "0.1.0");
    }
    const AppInfo missing = AppInfo::fromFile(dir / "absent" / "Info.json");
    EXPECT_TRUE(missing.enableROZI());
    EXPECT_EQ(missing.resourcesFolder(), dir / "absent" / "");
}

TEST(AppInfo, TheApplicationFindsTheShippedFileUnlessOverridden)
{
    ScopedEnv noOverride("PELKOR_INFO", std::nullopt);
    const AppInfo& info = AppInfo::main();
    EXPECT_TRUE(fs::is_regular_file(info.resourcesFolder() / AppInfo::kFileName));
    EXPECT_TRUE(fs::is_regular_file(info.resourcesFolder() / "installVirtualDrivers.sh"));
}

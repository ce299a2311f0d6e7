#include "Media/CheckVirtualDrivers.h"

#include "Utils/AppInfo.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char* kSpeaker = CheckVirtualDrivers::kSpeakerDriver;
constexpr const char* kMicrophone = CheckVirtualDrivers::kMicrophoneDriver;
constexpr const char* kCamera = CheckVirtualDrivers::kCameraPlugin;

void writeExecutable(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    writeFile(path, text);
    fs::permissions(path, fs::perms::owner_all);
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// Installed and shipped driver folders in a private temporary folder.
class CheckVirtualDriversTest : public ::testing::Test {
protected:
    CheckVirtualDrivers::Folders folders() const { return {dir / "installed", dir / "resources"}; }

    // A driver folder whose information file holds the given text.
    static void writeInfo(const fs::path& root, const char* name, const std::string& text)
    {
        const fs::path contents = root / name / "Contents";
        fs::create_directories(contents);
        writeFile(contents / "Info.json", text);
    }
    static std::string versioned(const std::string& version)
    {
        return R"({"CFBundleShortVersionString": ")" + version + R"("})";
    }
    void install(const char* name, const std::string& version) { writeInfo(dir / "installed", name, versioned(version)); }
    void ship(const char* name, const std::string& version) { writeInfo(dir / "resources" / "drivers", name, versioned(version)); }
    void shipAll(const std::string& version)
    {
        for (const char* name : {kSpeaker, kMicrophone, kCamera})
            ship(name, version);
    }

    TempDir dir;
};

} // namespace

TEST(CheckVirtualDriversVersions, ComparesNumberByNumber)
{
    using CVD = CheckVirtualDrivers;
    EXPECT_EQ(CVD::compareVersions("1.10", "1.9"), std::strong_ordering::greater);
    EXPECT_EQ(CVD::compareVersions("1.9", "1.10"), std::strong_ordering::less);
    EXPECT_EQ(CVD::compareVersions("2", "2.0"), std::strong_ordering::equal);
    EXPECT_EQ(CVD::compareVersions("2.0.0", "2"), std::strong_ordering::equal);
    EXPECT_EQ(CVD::compareVersions("1.0.1", "1.0"), std::strong_ordering::greater);
    EXPECT_EQ(CVD::compareVersions("1.2.0", "1.10.0"), std::strong_ordering::less);
    EXPECT_EQ(CVD::compareVersions("01.002", "1.2"), std::strong_ordering::equal);
    EXPECT_EQ(CVD::compareVersions("0", "0.0.0"), std::strong_ordering::equal);
    // Far beyond any integer type, still compared as numbers.
    EXPECT_EQ(CVD::compareVersions("1.123456789012345678901234567890", "1.99999999999999999999999999999"),
              std::strong_ordering::greater);

    for (const char* garbage : {"", "abc", "1.x", "1..2", ".1", "1.", "1.0-beta", " 1.0", "1,0", "-1", "+1", "1.0\n"}) {
        EXPECT_FALSE(CVD::compareVersions(garbage, "1.0")) << garbage;
        EXPECT_FALSE(CVD::compareVersions("1.0", garbage)) << garbage;
    }
}

TEST_F(CheckVirtualDriversTest, InstalledNotOlderThanTheShippedCopyIsCurrent)
{
    shipAll("1.2.0");
    struct Case {
        const char* installed;
        bool current;
    };
    for (const auto& [installed, current] : std::vector<Case>{{"1.2.0", true}, {"1.2", true}, {"1.10.0", true},
                                                             {"1.1.9", false}, {"1.0", false}, {"garbage", false}}) {
        for (const char* name : {kSpeaker, kMicrophone, kCamera})
            install(name, installed);
        const CheckVirtualDrivers check(folders(), true);
        EXPECT_EQ(check.hasSpeaker(), current) << installed;
        EXPECT_EQ(check.hasMicrophone(), current) << installed;
        EXPECT_EQ(check.hasCamera(), current) << installed;
    }

    // A shipped copy whose version cannot be read is never matched.
    for (const char* name : {kSpeaker, kMicrophone, kCamera})
        install(name, "1.2.0");
    EXPECT_TRUE(CheckVirtualDrivers(folders(), true).checkVirtualDrivers());
    shipAll("nonsense");
    EXPECT_FALSE(CheckVirtualDrivers(folders(), true).checkVirtualDrivers());
}

TEST_F(CheckVirtualDriversTest, MissingOrUnreadableDriversAreNotCurrent)
{
    // Nothing installed, relay on: all three missing.
    shipAll("1.0");
    CheckVirtualDrivers nothing(folders(), true);
    EXPECT_FALSE(nothing.hasSpeaker());
    EXPECT_FALSE(nothing.hasMicrophone());
    EXPECT_FALSE(nothing.hasCamera());

    // Installed, but the resources lack the copy.
    install(kSpeaker, "1.0");
    fs::remove_all(dir / "resources" / "drivers" / kSpeaker);
    EXPECT_FALSE(CheckVirtualDrivers(folders(), true).checkVirtualDrivers());
    ship(kSpeaker, "1.0");
    EXPECT_TRUE(CheckVirtualDrivers(folders(), true).checkVirtualDrivers());

    // Installed information that is unreadable, lacks the version or holds it as a number.
    for (const char* text : {"{broken", "[]", R"({"CFBundleVersion": "1.0"})", R"({"CFBundleShortVersionString": 1.0})"}) {
        writeInfo(dir / "installed", kSpeaker, text);
        EXPECT_FALSE(CheckVirtualDrivers(folders(), true).checkVirtualDrivers()) << text;
    }
}

TEST_F(CheckVirtualDriversTest, AShippedCopyWithoutVersionPassesOnlyForTheSpeaker)
{
    for (const char* name : {kSpeaker, kMicrophone, kCamera}) {
        install(name, "1.0");
        writeInfo(dir / "resources" / "drivers", name, "{}");
    }
    const CheckVirtualDrivers check(folders(), true);
    EXPECT_TRUE(check.hasSpeaker());
    EXPECT_FALSE(check.hasMicrophone());
    EXPECT_FALSE(check.hasCamera());
}

TEST_F(CheckVirtualDriversTest, WithTheRelayOffOnlyTheSpeakerCounts)
{
    shipAll("1.0");
    const CheckVirtualDrivers off(folders(), false);
    EXPECT_FALSE(off.hasSpeaker());
    EXPECT_TRUE(off.hasMicrophone());
    EXPECT_TRUE(off.hasCamera());

    install(kSpeaker, "1.0");
    install(kMicrophone, "0.1");
    EXPECT_TRUE(CheckVirtualDrivers(folders(), false).hasSpeaker());
    EXPECT_TRUE(CheckVirtualDrivers(folders(), false).hasMicrophone());
    EXPECT_FALSE(CheckVirtualDrivers(folders(), true).hasMicrophone());
}

TEST_F(CheckVirtualDriversTest, InstallPluginPassesTheFiveArguments)
{
    // The stand-in script writes its argument vector, one per line, into the resources folder.
    const fs::path script = dir / "resources" / CheckVirtualDrivers::kInstallScript;
    writeExecutable(script, "#!/bin/sh\nfor a in \"$0\" \"$@\"; do printf '%s\\n' \"$a\"; done > \"$1/argv.txt\"\n");
    const std::string resources = (dir / "resources" / "").string();
    shipAll("1.0");

    CheckVirtualDrivers(folders(), true).installPlugin();
    EXPECT_EQ(lines(readFile(dir / "resources" / "argv.txt")),
              (std::vector<std::string>{script.string(), resources, "NO", "NO", "NO"}));

    CheckVirtualDrivers(folders(), false).installPlugin();
    EXPECT_EQ(lines(readFile(dir / "resources" / "argv.txt")),
              (std::vector<std::string>{script.string(), resources, "NO", "YES", "YES"}));

    install(kSpeaker, "1.0");
    CheckVirtualDrivers mixed(folders(), true);
    mixed.setHasCamera(true);
    mixed.installPlugin();
    EXPECT_EQ(lines(readFile(dir / "resources" / "argv.txt")),
              (std::vector<std::string>{script.string(), resources, "YES", "NO", "YES"}));
}

// The shipped script against the shipped drivers, with a stand-in pactl that keeps its devices in a file.
TEST_F(CheckVirtualDriversTest, TheShippedScriptInstallsOnceAndTheNextCheckPasses)
{
    const fs::path bin = dir / "bin";
    writeExecutable(bin / "pactl", R"(#!/bin/bash
here=$(dirname "$0")
echo "$*" >> "$here/calls"
case $1 in
info) ;;
list) [[ -f $here/devices ]] && grep "^$3 " "$here/devices" | while read -r _ name; do printf '1\t%s\tmodule\n' "$name"; done ;;
load-module)
    for a in "$@"; do
        case $a in
        sink_name=*) echo "sinks ${a#sink_name=}" >> "$here/devices" ;;
        source_name=*) echo "sources ${a#source_name=}" >> "$here/devices" ;;
        esac
    done
    echo 7 ;;
esac
exit 0
)");
    ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    ScopedEnv noOverride("PELKOR_INFO", std::nullopt);

    const CheckVirtualDrivers::Folders shipped = CheckVirtualDrivers::defaultFolders();
    EXPECT_EQ(shipped.installed, dir / "data" / "pelkor" / "drivers");
    ASSERT_TRUE(fs::is_regular_file(shipped.resources / CheckVirtualDrivers::kInstallScript));

    const CheckVirtualDrivers before(shipped, true);
    EXPECT_FALSE(before.hasSpeaker() || before.hasMicrophone() || before.hasCamera());
    before.installPlugin();
    const CheckVirtualDrivers after(shipped, true);
    EXPECT_TRUE(after.hasSpeaker());
    EXPECT_TRUE(after.hasMicrophone());
    EXPECT_TRUE(after.hasCamera());
    EXPECT_EQ(readFile(bin / "devices"), "sinks ROZI-Audio\nsources ROZI-Audio2ch_UID\n");

    // A second run finds the loopback device and loads nothing more.
    CheckVirtualDrivers again(shipped, true);
    again.setHasSpeaker(false);
    again.installPlugin();
    EXPECT_EQ(readFile(bin / "devices"), "sinks ROZI-Audio\nsources ROZI-Audio2ch_UID\n");
    const std::string calls = readFile(bin / "calls");
    size_t loads = 0;
    for (size_t at = calls.find("load-module"); at != std::string::npos; at = calls.find("load-module", at + 1))
        ++loads;
    EXPECT_EQ(loads, 2u);
    EXPECT_NE(calls.find("load-module module-remap-source master=ROZI-Audio.monitor"), std::string::npos);
}

TEST_F(CheckVirtualDriversTest, TheShippedScriptSaysThereIsNoVirtualCameraAndRefusesBadArguments)
{
    ScopedEnv data("XDG_DATA_HOME", (dir / "data").string());
    const std::string resources = AppInfo::main().resourcesFolder().string();
    const std::string script = resources + CheckVirtualDrivers::kInstallScript;

    const auto camera = Shell::run({script, resources, "YES", "YES", "NO"});
    ASSERT_TRUE(camera);
    EXPECT_EQ(camera->exitCode, 0);
    EXPECT_NE(camera->output.find("no virtual camera exists on this platform"), std::string::npos);
    EXPECT_EQ(camera->output.find("pactl"), std::string::npos);

    for (const std::vector<std::string>& argv : std::vector<std::vector<std::string>>{
             {script, resources, "YES", "NO"}, {script, resources, "YES", "NO", "maybe"}}) {
        const auto refused = Shell::run(argv);
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->exitCode, 2);
    }
    EXPECT_FALSE(fs::exists(dir / "data" / "pelkor" / "drivers" / kSpeaker));
}

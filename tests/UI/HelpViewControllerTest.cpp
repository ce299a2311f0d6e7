#include "UI/HelpViewController.h"
#include "Utils/PUtils.h"

#include "UI/RecordingSettingsDelegates.h"
#include "UI/RecordingSettingsViews.h"
#include "UI/SelectedQualityIndex.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Calls = std::vector<std::string>;

// The popover as the main window makes it: loaded, then given its delegates; the log file switch
// recorded instead of made.
class HelpViewControllerTest : public ::testing::Test {
protected:
    HelpViewControllerTest()
    {
        gSelectedQualityIndex = 0;
        help.viewDidLoad();
        help.setSoundSwitchDelegate(&delegates);
        help.setShowChangeDeviceWindowDelegate(&delegates);
        help.setUserChangeVideoQualityDelegate(&delegates);
        calls.clear();
    }
    ~HelpViewControllerTest() override { gSelectedQualityIndex = 0; }

    void confirm(size_t choice)
    {
        help.qualityButton();
        help.qualityWindowController().selectEvent(choice);
        help.qualityWindowController().sumbit();
    }

    Calls calls;
    RecordingHelpView view{calls};
    RecordingQualityView qualityView{calls};
    std::vector<bool> logSwitches;
    RecordingSettingsDelegates delegates;
    HelpViewController help{view, qualityView, [this](bool on) { logSwitches.push_back(on); }};
};

TEST(HelpViewController, LoadsWithSoundOnLogOffAndAutomaticQualityTellingNobody)
{
    Calls calls;
    RecordingHelpView view{calls};
    RecordingQualityView qualityView{calls};
    HelpViewController help{view, qualityView, [](bool) {}};
    help.viewDidLoad();
    // The log file lies in the program's own state folder.
    const std::string logFile = PUtils::logFilePath().value_or("").string();
    EXPECT_TRUE(logFile.ends_with("/pelkor/pelkor.log")) << logFile;
    EXPECT_EQ(calls, (Calls{"sound SoundON", "log SoundOff", "logFile " + logFile, "qualityInfo Auto"}));
}

TEST_F(HelpViewControllerTest, TheSwitchesAndTheirLabelsToggleAndReport)
{
    help.soundSwitchTextButton();
    EXPECT_EQ(calls, Calls{"sound SoundOff"});
    EXPECT_EQ(delegates.calls, Calls{"sound NO"});
    help.soundSwitchButton(true);
    EXPECT_EQ(delegates.calls.back(), "sound YES");
    EXPECT_TRUE(help.soundOn());

    help.clickLogSwitchText();
    help.clickLogSwitch(false);
    EXPECT_EQ(logSwitches, (std::vector<bool>{true, false}));
    EXPECT_EQ(calls.back(), "log SoundOff");
    EXPECT_FALSE(help.logOn());
}

TEST_F(HelpViewControllerTest, AQualityIsAppliedOnceAndShownUpToItsBracket)
{
    confirm(3);
    confirm(3);
    EXPECT_EQ(delegates.calls, Calls{"userChangeVideoQuality 3"}) << "the same quality confirmed twice";
    EXPECT_EQ(std::ranges::count(calls, "qualityInfo 2K"), 1);

    help.setQualityText("1080P(recommended)");
    help.setQualityText("1080P");
    EXPECT_EQ(calls.back(), "qualityInfo 1080P");
    EXPECT_EQ(delegates.calls.size(), 2u);
    help.setQualityText("(none)");
    EXPECT_EQ(calls.back(), "qualityInfo ");
}

TEST_F(HelpViewControllerTest, ThePopoverGrowsForTheQualityEntryAndShrinksBackToAutomatic)
{
    help.showHelpForConnection(true);
    EXPECT_EQ(calls, (Calls{"size 190x200", "qualityEntry shown"}));
    help.showHelpForConnection(false);
    EXPECT_EQ(calls, (Calls{"size 190x200", "qualityEntry shown", "size 190x150", "qualityEntry hidden"}));

    confirm(3);
    calls.clear();
    help.showQualityEntry(true);
    EXPECT_EQ(calls, (Calls{"size 190x200", "qualityEntry shown"}));
    calls.clear();
    help.showQualityEntry(false);
    EXPECT_EQ(calls, (Calls{"checkMark 0", "qualityInfo Auto", "size 190x150", "qualityEntry hidden"}));
    EXPECT_EQ(delegates.calls.back(), "userChangeVideoQuality 0") << "applied with the index already back";
    EXPECT_EQ(help.qualityWindowController().beforeQuality(), "Auto");
}

TEST_F(HelpViewControllerTest, WithoutDelegatesTheEntriesOnlyShow)
{
    help.setSoundSwitchDelegate(nullptr);
    help.setShowChangeDeviceWindowDelegate(nullptr);
    help.setUserChangeVideoQualityDelegate(nullptr);
    help.soundSwitchTextButton();
    help.DeviceNameButton();
    confirm(1);
    EXPECT_TRUE(delegates.calls.empty());
    EXPECT_EQ(std::ranges::count(calls, "qualityInfo 1080P"), 1);
}

} // namespace

#include "QtTestSupport.h"

#include "UI/HelpViewController.h"
#include "UI/Qt/AboutWindow.h"
#include "UI/Qt/HelpPopover.h"
#include "UI/Qt/QualityWindow.h"
#include "UI/RecordingSettingsDelegates.h"
#include "UI/SelectedQualityIndex.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {

// The popover under a small window's button, with recording delegates and the log file switch
// recorded instead of made.
class HelpPopoverTest : public QtLoopFixture {
protected:
    HelpPopoverTest()
    {
        gSelectedQualityIndex = 0;
        anchorWindow.resize(300, 200);
        anchor->move(250, 10);
        anchorWindow.show();
        popover.setDelegates(&delegates, &delegates, &delegates);
        popover.showAt(*anchor);
    }
    ~HelpPopoverTest() override { gSelectedQualityIndex = 0; }

    template <typename T>
    T* control(const char* name) const
    {
        // The popover and the quality picker both belong to the anchor's window.
        T* found = anchorWindow.findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void click(const char* name) { control<QAbstractButton>(name)->click(); }
    bool shows(const char* name) const { return control<QWidget>(name)->isVisibleTo(control<QWidget>(name)->window()); }
    void openPicker()
    {
        popover.showAt(*anchor);
        click("qualityTextButton");
    }

    RecordingSettingsDelegates delegates;
    std::vector<bool> logSwitches;
    QWidget anchorWindow;
    QToolButton* anchor = new QToolButton(&anchorWindow);
    HelpPopover popover{&anchorWindow, [this](bool on) { logSwitches.push_back(on); }};
};

TEST_F(HelpPopoverTest, ShowsItsEntriesAndGrowsForTheQualityEntry)
{
    ASSERT_TRUE(popover.isVisible());
    EXPECT_EQ(popover.size(), QSize(190, 150));
    EXPECT_TRUE(shows("soundEntry"));
    EXPECT_TRUE(shows("logEntry"));
    EXPECT_TRUE(shows("deviceNameEntry"));
    EXPECT_FALSE(shows("qualityEntry"));
    EXPECT_TRUE(shows("aboutEntry"));
    EXPECT_EQ(control<QLabel>("qualityInfo")->text(), "Auto");
    saveScreenshot(popover, "settings-popover");

    popover.controller().showHelpForConnection(true);
    EXPECT_EQ(popover.size(), QSize(190, 200));
    EXPECT_TRUE(shows("qualityEntry"));
    saveScreenshot(popover, "settings-popover-grown");
}

TEST_F(HelpPopoverTest, EachEntryReachesTheRulesAndThePickerItsWindow)
{
    auto* sound = control<QToolButton>("soundSwitchButton");
    click("soundSwitchTextButton");
    EXPECT_FALSE(sound->isChecked());
    click("soundSwitchButton");
    EXPECT_TRUE(sound->isChecked());
    click("logSwitchTextButton");
    click("logSwitchButton");
    EXPECT_EQ(logSwitches, (std::vector<bool>{true, false}));
    click("deviceNameButton");
    EXPECT_FALSE(popover.isVisible()) << "the pop-up gives way to the window it opens";

    popover.showAt(*anchor);
    click("aboutTextButton");
    EXPECT_FALSE(popover.isVisible());
    EXPECT_TRUE(popover.aboutWindow().isVisible()) << "the about entry shows the about window";
    popover.aboutWindow().close();

    QualityWindow& picker = popover.qualityWindow();
    openPicker();
    ASSERT_TRUE(picker.isVisible());
    EXPECT_TRUE(shows("selectAuto"));
    EXPECT_FALSE(shows("select2K"));
    saveScreenshot(picker, "quality-picker");
    click("button2K");
    click("sumbit");
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(control<QLabel>("qualityInfo")->text(), "2K");

    openPicker();
    click("button720P");
    pressKey(picker, Qt::Key_Escape);
    EXPECT_FALSE(picker.isVisible()) << "Escape is the picker's Cancel";
    openPicker();
    click("button720P");
    picker.close();
    EXPECT_EQ(gSelectedQualityIndex.load(), 3) << "Cancel and the close box keep the confirmed 2K";
    EXPECT_TRUE(shows("select2K"));
    EXPECT_EQ(delegates.calls, (std::vector<std::string>{"sound NO", "sound YES", "showChangeDeviceWindow",
                                                         "userChangeVideoQuality 3"}));
}

// The keyboard's road through the settings, the one the end-to-end test takes: the popover opens on its
// first entry, the keys walk the entries' texts, and the picker's choices come in their order.
TEST_F(HelpPopoverTest, TheKeysWalkTheEntriesAndTheChoices)
{
    popover.controller().showHelpForConnection(true);
    popover.showAt(*anchor);
    EXPECT_EQ(popover.focusWidget(), control<QWidget>("soundSwitchTextButton"));
    for (const char* next : {"logSwitchTextButton", "deviceNameTextButton", "qualityTextButton"}) {
        QTest::keyClick(popover.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(popover.focusWidget(), control<QWidget>(next));
    }
    QTest::keyClick(popover.focusWidget(), Qt::Key_Space);
    QualityWindow& picker = popover.qualityWindow();
    ASSERT_TRUE(picker.isVisible());
    control<QWidget>("autoText")->setFocus();
    for (const char* next : {"button1080P", "button720P", "button2K", "sumbit"}) {
        QTest::keyClick(picker.focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(picker.focusWidget(), control<QWidget>(next));
    }
    // Space marks a choice, Return confirms it wherever the keys are.
    control<QWidget>("button720P")->setFocus();
    QTest::keyClick(picker.focusWidget(), Qt::Key_Space);
    pressKey(picker, Qt::Key_Return);
    EXPECT_FALSE(picker.isVisible());
    EXPECT_EQ(control<QLabel>("qualityInfo")->text(), "720P");
}

} // namespace

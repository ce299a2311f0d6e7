#include "QtTestSupport.h"

#include "Utils/LocalizedText.h"
#include "UI/Qt/HelpPopover.h"
#include "UI/Qt/QualityWindow.h"
#include "UI/Qt/RequestPermissionsWindow.h"
#include "UI/RecordingPermissions.h"

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

namespace {

class RequestPermissionsWindowTest : public QtLoopFixture {
protected:
    template <typename T>
    static T* control(const QWidget& window, const char* name)
    {
        return findControl<T>(window, name);
    }
    static bool shows(const QWidget& window, const char* name)
    {
        return control<QWidget>(window, name)->isVisibleTo(&window);
    }

    RecordingPermissions permissions;
};

TEST_F(RequestPermissionsWindowTest, ShowsTheButtonsOfMissingPermissionsAndWhereEachLeads)
{
    permissions.screenRecording = true;
    RequestPermissionsWindow window(permissions);
    window.show();
    EXPECT_TRUE(shows(window, "AccessibilityButton"));
    EXPECT_TRUE(shows(window, "MicrophoneButton"));
    EXPECT_FALSE(shows(window, "ScreenRecordingButton"));
    EXPECT_FALSE(shows(window, "InputMonitoringButton"));
    EXPECT_FALSE(shows(window, "privacyPageText"));
    saveScreenshot(window, "permissions-window");

    control<QPushButton>(window, "AccessibilityButton")->click();
    EXPECT_TRUE(shows(window, "privacyPageText")) << "the first click explains";
    control<QPushButton>(window, "AccessibilityButton")->click();
    EXPECT_TRUE(shows(window, "privacyPageText"));
    EXPECT_EQ(control<QLabel>(window, "privacyPageText")->text().toStdString(),
              LocalizedText::text("STRING_PRIVACY_ACCESSIBILITY"));
    EXPECT_EQ(permissions.calls, (std::vector<std::string>{"requestAccessibility", "requestAccessibility",
                                                           "requestAccessibility", "openPrivacySetting 3"}));
    saveScreenshot(window, "permissions-window-explained");
    expectTextsFromTheTable(window);
}

TEST_F(RequestPermissionsWindowTest, TheHelpButtonOpensThePopoverAndClosingTakesTheOtherWindowsAlong)
{
    RequestPermissionsWindow window(permissions);
    window.show();
    control<QToolButton>(window, "helpButton")->click();
    auto* popover = control<HelpPopover>(window, "helpPopover");
    EXPECT_TRUE(popover->isVisible());
    popover->hide();

    QWidget other;
    other.show();
    popover->qualityWindow().showWindow();
    window.close();
    EXPECT_FALSE(other.isVisible());
    EXPECT_FALSE(popover->qualityWindow().isVisible());
}

} // namespace

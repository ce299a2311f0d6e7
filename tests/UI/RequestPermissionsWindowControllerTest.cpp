#include "UI/RequestPermissionsWindowController.h"

#include "Utils/LocalizedText.h"
#include "UI/RecordingPermissions.h"

#include <gtest/gtest.h>

namespace {

using Calls = std::vector<std::string>;

class RecordingPermissionsView final : public RequestPermissionsView {
public:
    Calls calls;

    void hidePermissionButton(PermissionButton button) override
    {
        static const char* const names[] = {"Accessibility", "Microphone", "ScreenRecording", "InputMonitoring"};
        calls.push_back(std::string("hide ") + names[static_cast<int>(button)]);
    }
    void showPrivacyPage(const std::string& explanation) override { calls.push_back("page " + explanation); }
    void closeOtherWindows() override { calls.push_back("closeOtherWindows"); }
};

// The window over permissions that each test sets; by default none is granted and the microphone is
// denied.
class RequestPermissionsWindowControllerTest : public ::testing::Test {
protected:
    // The recorded view and permission calls of each click, one list per click.
    Calls click(void (RequestPermissionsWindowController::*button)())
    {
        view.calls.clear();
        permissions.calls.clear();
        (window.*button)();
        Calls all = permissions.calls;
        all.insert(all.end(), view.calls.begin(), view.calls.end());
        return all;
    }
    static std::string page(const char* key) { return "page " + LocalizedText::text(key); }

    RecordingPermissions permissions;
    RecordingPermissionsView view;
    RequestPermissionsWindowController window{view, permissions};
};

TEST_F(RequestPermissionsWindowControllerTest, OnlyTheButtonsOfMissingPermissionsShow)
{
    window.windowDidLoad();
    EXPECT_EQ(view.calls, Calls{"hide InputMonitoring"});

    // Shown only because a driver was missing: no permission button at all.
    permissions.accessibility = permissions.screenRecording = true;
    permissions.microphone = Permissions::kMicrophoneAuthorized;
    view.calls.clear();
    window.canButtonHidden();
    EXPECT_EQ(view.calls,
              (Calls{"hide InputMonitoring", "hide Accessibility", "hide ScreenRecording", "hide Microphone"}));
}

TEST_F(RequestPermissionsWindowControllerTest, AccessibilityAsksTwiceAtFirstThenOnceWithItsPage)
{
    using C = RequestPermissionsWindowController;
    // The first click opens no page, but says what is missing all the same.
    EXPECT_EQ(click(&C::accessibilityButton),
              (Calls{"requestAccessibility", "requestAccessibility", page("STRING_PRIVACY_ACCESSIBILITY")}));
    EXPECT_FALSE(window.firstClickAccessibility());
    const Calls later{"requestAccessibility", "openPrivacySetting 3", page("STRING_PRIVACY_ACCESSIBILITY")};
    EXPECT_EQ(click(&C::accessibilityButton), later);
    EXPECT_EQ(click(&C::accessibilityButton), later);

    permissions.accessibility = true;
    EXPECT_EQ(click(&C::accessibilityButton), Calls{"hide Accessibility"});
}

TEST_F(RequestPermissionsWindowControllerTest, ScreenRecordingAsksAtFirstThenShowsItsPage)
{
    using C = RequestPermissionsWindowController;
    EXPECT_EQ(click(&C::screenRecordingButton),
              (Calls{"requestScreenRecording", page("STRING_PRIVACY_SCREEN_RECORDING")}));
    EXPECT_FALSE(window.firstClickScreen());
    const Calls later{"openPrivacySetting 2", page("STRING_PRIVACY_SCREEN_RECORDING")};
    EXPECT_EQ(click(&C::screenRecordingButton), later);
    EXPECT_EQ(click(&C::screenRecordingButton), later);

    permissions.screenRecording = true;
    EXPECT_EQ(click(&C::screenRecordingButton), Calls{"hide ScreenRecording"});
    EXPECT_TRUE(window.firstClickAccessibility()) << "each button has its own first click";
}

TEST_F(RequestPermissionsWindowControllerTest, TheMicrophoneButtonFollowsTheMicrophoneState)
{
    using C = RequestPermissionsWindowController;
    const Calls toPage{"openPrivacySetting 1", page("STRING_PRIVACY_MICROPHONE")};
    EXPECT_EQ(click(&C::microphoneButton), toPage) << "denied";
    EXPECT_EQ(click(&C::microphoneButton), toPage) << "denied, every click";
    permissions.microphone = Permissions::kMicrophoneRestricted;
    EXPECT_EQ(click(&C::microphoneButton), toPage);

    permissions.microphone = Permissions::kMicrophoneNotDetermined;
    Calls refused{"requestMicrophone"};
    refused.insert(refused.end(), toPage.begin(), toPage.end());
    EXPECT_EQ(click(&C::microphoneButton), refused);
    permissions.microphoneAnswer = true;
    EXPECT_EQ(click(&C::microphoneButton), (Calls{"requestMicrophone", "hide Microphone"}));

    permissions.microphone = Permissions::kMicrophoneAuthorized;
    EXPECT_EQ(click(&C::microphoneButton), Calls{"hide Microphone"});
    permissions.microphone = 9;
    EXPECT_EQ(click(&C::microphoneButton), Calls{});
}

} // namespace

#include "UI/RequestPermissionsWindowController.h"

#include "Utils/LocalizedText.h"
#include "Platform/Permissions.h"

#include <cassert>

namespace {

// The explanation that stands in for each privacy page.
const char* privacyPageText(int32_t index)
{
    switch (index) {
    case Permissions::kPrivacyMicrophone:
        return "STRING_PRIVACY_MICROPHONE";
    case Permissions::kPrivacyScreenRecording:
        return "STRING_PRIVACY_SCREEN_RECORDING";
    case Permissions::kPrivacyAccessibility:
        return "STRING_PRIVACY_ACCESSIBILITY";
    default:
        return "STRING_PRIVACY_INPUT_MONITORING";
    }
}

} // namespace

RequestPermissionsWindowController::RequestPermissionsWindowController(RequestPermissionsView& view,
                                                                       const Permissions& permissions)
    : view_(view), permissions_(permissions)
{
    assert(mainThread_.holds());
}

void RequestPermissionsWindowController::windowDidLoad()
{
    canButtonHidden();
}

void RequestPermissionsWindowController::canButtonHidden()
{
    assert(mainThread_.holds());
    view_.hidePermissionButton(PermissionButton::InputMonitoring);
    if (permissions_.canAccessibilityPermissions())
        view_.hidePermissionButton(PermissionButton::Accessibility);
    if (permissions_.canRecordScreenPermissions())
        view_.hidePermissionButton(PermissionButton::ScreenRecording);
    if (permissions_.canMicrophonePermissions() == Permissions::kMicrophoneAuthorized)
        view_.hidePermissionButton(PermissionButton::Microphone);
}

void RequestPermissionsWindowController::accessibilityButton()
{
    assert(mainThread_.holds());
    if (hiddenAsGranted(permissions_.canAccessibilityPermissions(), PermissionButton::Accessibility))
        return;
    permissions_.requestAccessibilityPermissions();
    // The first click asks twice and opens no page; every later one asks once and opens it. Each
    // says what is missing, as nothing else answers the click here.
    if (firstClickAccessibility_) {
        permissions_.requestAccessibilityPermissions();
        explain(Permissions::kPrivacyAccessibility);
    } else {
        openPrivacySetting(Permissions::kPrivacyAccessibility);
    }
    firstClickAccessibility_ = false;
}

void RequestPermissionsWindowController::screenRecordingButton()
{
    assert(mainThread_.holds());
    if (hiddenAsGranted(permissions_.canRecordScreenPermissions(), PermissionButton::ScreenRecording))
        return;
    if (firstClickScreen_) {
        permissions_.requestScreenRecordingPermissions();
        explain(Permissions::kPrivacyScreenRecording);
    } else {
        openPrivacySetting(Permissions::kPrivacyScreenRecording);
    }
    firstClickScreen_ = false;
}

void RequestPermissionsWindowController::microphoneButton()
{
    assert(mainThread_.holds());
    switch (permissions_.canMicrophonePermissions()) {
    case Permissions::kMicrophoneNotDetermined:
        permissions_.requestMicrophonePermissions([this](bool granted) {
            // The answer comes at once, on this thread.
            assert(mainThread_.holds());
            if (granted)
                view_.hidePermissionButton(PermissionButton::Microphone);
            else
                openPrivacySetting(Permissions::kPrivacyMicrophone);
        });
        break;
    case Permissions::kMicrophoneRestricted:
    case Permissions::kMicrophoneDenied:
        openPrivacySetting(Permissions::kPrivacyMicrophone);
        break;
    case Permissions::kMicrophoneAuthorized:
        view_.hidePermissionButton(PermissionButton::Microphone);
        break;
    default:
        break;
    }
}

void RequestPermissionsWindowController::windowWillClose()
{
    assert(mainThread_.holds());
    view_.closeOtherWindows();
}

bool RequestPermissionsWindowController::hiddenAsGranted(bool granted, PermissionButton button)
{
    if (granted)
        view_.hidePermissionButton(button);
    return granted;
}

void RequestPermissionsWindowController::openPrivacySetting(int32_t index)
{
    permissions_.openPrivacySetting(index);
    explain(index);
}

void RequestPermissionsWindowController::explain(int32_t index)
{
    view_.showPrivacyPage(LocalizedText::text(privacyPageText(index)));
}

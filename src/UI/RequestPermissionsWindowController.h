#pragma once

#include "UI/RequestPermissionsView.h"
#include "Utils/ThreadAffinity.h"

#include <cstdint>

class Permissions;

// The window shown at launch instead of the main window when a permission or a virtual driver is
// missing: a button per missing permission asks for it and says what it needs; from the second click
// on (at once for the microphone when refused) it opens its privacy page too. Granting switches to nothing: the user starts
// the application again, and closing this window ends it. Main thread (asserted).
class RequestPermissionsWindowController {
public:
    // The permissions must outlive the controller.
    RequestPermissionsWindowController(RequestPermissionsView& view, const Permissions& permissions);
    RequestPermissionsWindowController(const RequestPermissionsWindowController&) = delete;
    RequestPermissionsWindowController& operator=(const RequestPermissionsWindowController&) = delete;

    // The view is ready: only the buttons of missing permissions stay.
    void windowDidLoad();
    // Hides input monitoring's button, which this system never needs, and those of granted permissions.
    void canButtonHidden();

    void accessibilityButton();
    void screenRecordingButton();
    void microphoneButton();
    // The window closes: the others go with it, so the application ends.
    void windowWillClose();

    bool firstClickAccessibility() const { return firstClickAccessibility_; }
    bool firstClickScreen() const { return firstClickScreen_; }

private:
    // A granted permission's button goes; true then, and the click does nothing else.
    bool hiddenAsGranted(bool granted, PermissionButton button);
    // The privacy page, and what it stands for here.
    void openPrivacySetting(int32_t index);
    // What the permission needs and how to get it.
    void explain(int32_t index);

    RequestPermissionsView& view_;
    const Permissions& permissions_;
    bool firstClickAccessibility_ = true;
    bool firstClickScreen_ = true;
    ThreadAffinity mainThread_;
};

#pragma once

#include "Session/SessionServices.h"

class Permissions;

#include <string>

// What the application delegate asks of the desktop: the status item, the one window of the run, the
// application's activation and its end. The Qt shell implements it, tests record it. Main thread.
class AppShellView {
public:
    virtual ~AppShellView() = default;

    // The status item with its menu, whose one entry (titled so) quits through AppDelegate::quitPelkor.
    virtual void installStatusItem(const std::string& quitTitle) = 0;
    // Creates the session controller on these services and shows its window, centred and in front.
    virtual void showMainWindow(SessionServices services) = 0;
    // The window that tells the user what is missing, centred and in front; it asks these permissions,
    // which outlive it.
    virtual void showPermissionsWindow(const Permissions& permissions) = 0;
    // Brings the application's window in front of every other, shown and not minimised.
    virtual void activate() = 0;
    // Ends the main loop: the application terminates with status 0.
    virtual void terminate() = 0;
};

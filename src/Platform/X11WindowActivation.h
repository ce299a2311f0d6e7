#pragma once

#include <cstdint>
#include <string>

// Brings a window of the X display to the front with the keyboard, as the user asked for it (a second
// launch of the program): through the window manager's _NET_ACTIVE_WINDOW, marked as a user's action so
// focus-stealing prevention lets it pass, or, with no manager that takes it, by raising the window and
// giving it the input focus directly. A toolkit's own activation carries the time of the last event
// it saw, which the server or the manager refuses once the focus moved elsewhere since.
class X11WindowActivation {
public:
    // On the display `displayName` names ($DISPLAY when empty); false when it cannot be reached.
    static bool activate(uint32_t window, const std::string& displayName = {});
};

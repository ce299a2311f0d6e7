#pragma once

#include "UI/WindowListSource.h"

// The window list of a Wayland session: one tile, "Choose a window", since a Wayland client cannot
// list other clients' windows. Casting it lets the user pick the window in the desktop's own dialog
// (the screen-cast portal).
class WaylandWindowListSource final : public WindowListSource {
public:
    // The tile's window id: no platform window has it.
    static constexpr int32_t kChosenByDesktop = -1;

    std::vector<Window> onScreenWindows() override;
};

#pragma once

#include "Utils/Rect.h"

#include <cstdint>
#include <string>
#include <vector>

// The platform's list of on-screen windows, front to back as the platform gives them. The window
// picker asks it on its poll queue, one call at a time; tests feed lists by hand.
class WindowListSource {
public:
    struct Window {
        int32_t windowId = 0;
        // The owning program's name; empty when the platform cannot tell.
        std::string ownerName;
        // The window's own title; empty when it has none.
        std::string windowName;
        Rect frame;
    };

    virtual ~WindowListSource() = default;
    virtual std::vector<Window> onScreenWindows() = 0;
};

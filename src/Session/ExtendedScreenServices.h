#pragma once

#include "Platform/VirtualDisplay.h"

#include <functional>
#include <memory>
#include <string>

// Where the extended screen comes from and how display changes are told; an empty member takes the
// default. Both are called on the main thread.
struct ExtendedScreenServices {
    struct Made {
        std::unique_ptr<VirtualDisplay> display;
        // Why none was made, when `display` is null.
        std::string refusal;
    };
    // Default: an X11VirtualDisplay on $DISPLAY; in a Wayland session sway's headless output, or the
    // portal's virtual screen where it offers one.
    std::function<Made()> createDisplay;
    // Calls `changed` on the main queue at each change of the displays while the result is held; null
    // when changes cannot be told. Default: an X11DisplayChangeSource on $DISPLAY; none in a Wayland session.
    std::function<std::shared_ptr<void>(std::function<void()> changed)> watchDisplayChanges;

    ExtendedScreenServices withDefaults() const;
};

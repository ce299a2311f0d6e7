#pragma once

#include "Platform/VirtualDisplay.h"

// The extended screen of a Wayland desktop whose screen-cast portal offers virtual screens: the
// desktop makes it when the cast starts (the capture asks the portal for a virtual source) and places
// it beside the main display itself, so there is nothing to place and no picture before the cast.
class PortalVirtualDisplay final : public VirtualDisplay {
public:
    // `mainId`, `main`: the compositor's first output, which it is made as large as.
    PortalVirtualDisplay(uint32_t mainId, Rect main);

    // An id no output has: the capture takes the portal's virtual source for it.
    uint32_t displayId() const override { return kId; }
    int height() const override { return main_.height; }
    // The main display, and the virtual screen right of it, where the desktop puts a new screen.
    std::optional<Layout> layout() override;
    // The desktop places it: nothing to do.
    bool placeAt(int x, int y) override;
    // Empty: the screen shows nothing until the cast makes it.
    BgraFrame snapshot() override { return {}; }

    static constexpr uint32_t kId = 0xFFFFFFFFu;

private:
    const uint32_t mainId_;
    const Rect main_;
};

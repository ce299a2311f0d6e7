#pragma once

#include "Utils/Rect.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class X11Display;

// The displays of an X screen: each RandR output that shows a picture, named by its output id, and
// each virtual monitor (RandR 1.5, backed by no output, as the extended screen is), named by
// monitorId() of its name.
class X11DisplayList {
public:
    struct DisplayInfo {
        uint32_t id = 0;   // never 0
        std::string name;  // the output's or monitor's name, for example "HDMI-1"
        Rect frame;   // where it shows, in the screen's coordinates
        bool primary = false;
    };

    // X resource ids and atoms use 29 bits, so a monitor's id never equals an output's.
    static constexpr uint32_t kMonitorIdFlag = 0x8000'0000;
    static constexpr uint32_t monitorId(unsigned long nameAtom)
    {
        return kMonitorIdFlag | static_cast<uint32_t>(nameAtom);
    }

    explicit X11DisplayList(X11Display& display);

    // The displays attached now, the primary one first; empty without RandR.
    std::vector<DisplayInfo> displays();
    // The display with that id, when one is attached now.
    std::optional<DisplayInfo> find(uint32_t id);

    // True when a display with that id is attached now to the X display `displayName` names
    // ($DISPLAY when empty); false when none is or that X display cannot be opened. Opens a
    // connection of its own, so it may be called from any thread.
    static bool checkVirtualDisplay(uint32_t id, const std::string& displayName = {});

private:
    void addOutputs(std::vector<DisplayInfo>& found);
    void addVirtualMonitors(std::vector<DisplayInfo>& found);

    X11Display& display_;
};

#pragma once

#include "Platform/PixelRect.h"

#include <cstdint>
#include <string>
#include <vector>

class X11Display;

// The windows a user can pick for casting, front to back: the window manager's client list in its
// stacking order (EWMH _NET_CLIENT_LIST_STACKING, else _NET_CLIENT_LIST), or the root's mapped
// top-level windows where no manager keeps a list. The desktop's furniture (dock, desktop, tooltip
// and notification windows) and the windows of one process, this program's own, are left out.
class X11WindowList {
public:
    struct Record {
        uint32_t id = 0;
        std::string name; // UTF-8; empty when the window has none
        PixelRect frame;  // content area in screen coordinates
        int32_t pid = 0;  // _NET_WM_PID of the owning process; 0 when the window does not say
    };

    // ownPid: the process whose windows are left out (0: none).
    explicit X11WindowList(X11Display& display, int32_t ownPid);

    // The windows shown now, the front one first. Windows that vanish while being read are left out.
    std::vector<Record> windows();

private:
    std::vector<unsigned long> candidates();
    bool read(unsigned long window, Record& record);
    std::string windowName(unsigned long window);
    int32_t windowPid(unsigned long window);
    bool isFurniture(unsigned long window);

    X11Display& display_;
    const int32_t ownPid_;
    unsigned long clientListStackingAtom_ = 0;
    unsigned long clientListAtom_ = 0;
    unsigned long windowTypeAtom_ = 0;
    std::vector<unsigned long> furnitureTypes_;
    unsigned long wmNameAtom_ = 0;
    unsigned long utf8StringAtom_ = 0;
    unsigned long wmPidAtom_ = 0;
};

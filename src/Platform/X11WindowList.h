#pragma once

#include "Platform/PixelRect.h"

#include <cstdint>
#include <string>
#include <vector>

class X11Display;

// The windows a user can pick for casting: the window manager's client list (EWMH
// _NET_CLIENT_LIST), or the root's mapped top-level windows where no manager keeps that list.
class X11WindowList {
public:
    struct Record {
        uint32_t id = 0;
        std::string name; // UTF-8; empty when the window has none
        PixelRect frame;  // content area in screen coordinates
        int32_t pid = 0;  // _NET_WM_PID of the owning process; 0 when the window does not say
    };

    explicit X11WindowList(X11Display& display);

    // The windows shown now, in the order the list gives them. Windows that vanish while being read
    // are left out.
    std::vector<Record> windows();

private:
    std::vector<unsigned long> candidates();
    bool read(unsigned long window, Record& record);
    std::string windowName(unsigned long window);
    int32_t windowPid(unsigned long window);

    X11Display& display_;
    unsigned long clientListAtom_ = 0;
    unsigned long wmNameAtom_ = 0;
    unsigned long utf8StringAtom_ = 0;
    unsigned long wmPidAtom_ = 0;
};

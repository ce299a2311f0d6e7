#pragma once

#include "UI/WindowListSource.h"

#include <cstdint>
#include <memory>
#include <string>

class X11Display;
class X11WindowList;

// The windows of an X display but this program's own, front to back, each with its owner named after
// the process of its _NET_WM_PID.
// The display is opened on the first call, so the connection lives on the poll queue that uses it.
class X11WindowListSource final : public WindowListSource {
public:
    // $DISPLAY when empty.
    explicit X11WindowListSource(std::string displayName = {});
    ~X11WindowListSource() override;

    std::vector<Window> onScreenWindows() override;

    // The kernel's name of the process (/proc/<pid>/comm, at most 15 bytes): readable for every
    // user's process, unlike the executable's path. Empty for pid 0 or a process that is gone.
    static std::string ownerName(int32_t pid);

private:
    const std::string displayName_;
    std::unique_ptr<X11Display> display_;
    std::unique_ptr<X11WindowList> list_;
};

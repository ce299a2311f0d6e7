#pragma once

// Asked to show the window that renames this computer as the TV lists it. Main thread.
class ShowChangeDeviceNameDelegate {
public:
    virtual ~ShowChangeDeviceNameDelegate() = default;
    virtual void showChangeDeviceWindow() = 0;
};

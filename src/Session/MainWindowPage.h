#pragma once

#include <cstddef>

// The four pages of the main window's content view.
enum class MainWindowPage {
    NoDevice,   // no TV found and not connected
    DeviceList, // the TVs found, with the address field
    Connected,  // the connected TV, with the cast and view buttons
    Window,     // the window picker of a window cast
};

// The page rule, after every discovery tick: the first that holds of no TV found and not connected
// (even while the window picker is on), the window picker, connected, else the device list.
inline MainWindowPage choosePage(size_t tvsFound, bool connected, bool inWindowInfoView)
{
    if (tvsFound == 0 && !connected)
        return MainWindowPage::NoDevice;
    if (inWindowInfoView)
        return MainWindowPage::Window;
    return connected ? MainWindowPage::Connected : MainWindowPage::DeviceList;
}

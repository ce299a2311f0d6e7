#pragma once

// The four pages of the main window's content view.
enum class MainWindowPage {
    NoDevice,   // no TV found and not connected
    DeviceList, // the TVs found, with the address field
    Connected,  // the connected TV, with the cast and view buttons
    Window,     // the window picker of a window cast
};

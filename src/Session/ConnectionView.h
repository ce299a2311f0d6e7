#pragma once

#include "Socket/TvDeviceInfo.h"
#include "Session/MainWindowPage.h"

#include <optional>
#include <string>
#include <vector>

// What finding and connecting show in the main window. Main thread.
class ConnectionView {
public:
    virtual ~ConnectionView() = default;

    // The page and the controls that go with it (the address field, its arrow and tips, the
    // connection text and the refresh button show only with the device list).
    virtual void showPage(MainWindowPage page) = 0;
    // Takes the page away without showing another; the next page rule fills the window.
    virtual void hidePage(MainWindowPage page) = 0;
    // The TVs of the device list screen, in the order first heard.
    virtual void showDevices(const std::vector<TvDeviceInfo>& devices) = 0;
    // The tip under the address field, with its image; nullopt hides both.
    virtual void showInputError(const std::optional<std::string>& tip) = 0;
    // An attempt to connect runs (the address field and its arrow show it and take no input, Escape
    // cancels), or has ended.
    virtual void showConnecting(bool connecting) = 0;
    // The connection text beside the device list ("Not connected").
    virtual void showConnectInfo(const std::string& text) = 0;
    // The connected TV's name and address on the connected page.
    virtual void showTvName(const std::string& name) = 0;
    virtual void showTvAddress(const std::string& address) = 0;
    // The settings popover offers the connected entries (it grows) or not.
    virtual void showHelpForConnection(bool connected) = 0;
    // A link came or went: the cast and view buttons are back at rest (start buttons shown and
    // enabled, stop buttons hidden, the view button off) and the TV-screen window is hidden.
    virtual void showSessionControlsAtRest() = 0;
};

#pragma once

#include "UI/ConnectListView.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Which parts of the connected-senders panel show: the open panel, or its folded button with the count.
struct SendersPanel {
    bool listShown = false;
    bool ballShown = false;
    bool countShown = false;

    bool operator==(const SendersPanel&) const = default;
};

// The panel's switches that act on every sender at once.
enum class SendersSwitch { SplitScreen, ReverseControl };

// What the senders panel, the device name and the TV's capabilities show in the main window; the panel's
// rows and count come through ConnectListView. Main thread.
class SendersView : public ConnectListView {
public:
    virtual ~SendersView() = default;

    virtual void showSendersPanel(const SendersPanel& panel) = 0;
    // The switch's image and state as the TV reports it.
    virtual void showSendersSwitch(SendersSwitch which, bool on) = 0;
    // The count beside the folded panel's button.
    virtual void showSendersCount(size_t count) = 0;
    // The window that renames this computer as the TV lists it, with the login name as placeholder.
    virtual void showDeviceNameWindow(const std::string& placeholder) = 0;
    virtual void hideDeviceNameWindow() = 0;
};

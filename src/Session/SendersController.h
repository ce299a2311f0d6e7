#pragma once

#include "UI/ConnectList.h"
#include "Session/SendersView.h"

#include <cstddef>
#include <cstdint>
#include <string>

class MainWindowController;

// The connected-senders panel, this computer's name as the TV lists it, and the TV's capability reports
// (edition level, speaker role). Main thread.
class SendersController {
public:
    // The edition level at which the TV takes no cast: the link is let go.
    static constexpr int kLevelWithoutCasting = 5;

    explicit SendersController(MainWindowController& owner);
    ~SendersController();
    SendersController(const SendersController&) = delete;
    SendersController& operator=(const SendersController&) = delete;

    // The TV's messages.
    void connectListMessage(const std::string& json);
    void changeButtonName(int64_t index, int status);
    void activeVersionHandler(int level);
    void isSpeakerHandler(bool speaker);

    // Folding the panel: its button or count opens it; its hide button, or a click in the window
    // beside the open panel, folds it.
    void clickBallbtn();
    void hiddenConnectList();
    void clickBesideConnectList();
    // The panel took a list of that many senders.
    void reportConnectNum(size_t count);

    // The panel, fed with the TV's lists while this computer is the speaker.
    ConnectList& connectList() { return connectList_; }

    // The device name.
    void showChangeDeviceWindow();
    void cancelDeviceNameButton();
    void inputDeviceNameButton(const std::string& name);
    // After each discovery tick: the connected TV's name as discovery last heard it.
    void refreshTvDevicesName();

private:
    void showPanel(SendersPanel panel);

    MainWindowController& owner_;
    SendersPanel panel_;
    ConnectList connectList_;
};

#pragma once

#include "Platform/MainQueueGuard.h"
#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "UI/ConnectList.h"
#include "UI/ConnectListDelegate.h"
#include "UI/ShowChangeDeviceNameDelegate.h"
#include "UI/TvDevicesNameDelegate.h"
#include "Session/SendersView.h"
#include "Utils/ThreadAffinity.h"

#include <cstddef>
#include <cstdint>
#include <string>

class MainWindowController;

// The connected-senders panel, this computer's name as the TV lists it, and the TV's capability reports
// (edition level, speaker role).
//
// Threads: main thread (asserted). The link's calls (TvSendersDelegate, ActiveVersionsDelegate) come on
// the transport's receive thread and move to the main queue first; the panel's, the settings' and the
// device list's calls come on the main thread.
class SendersController final : public TvSendersDelegate,
                                public ActiveVersionsDelegate,
                                public ConnectListDelegate,
                                public ShowChangeDeviceNameDelegate,
                                public TvDevicesNameDelegate {
public:
    // The edition level at which the TV takes no cast: the link is let go.
    static constexpr int kLevelWithoutCasting = 5;

    explicit SendersController(MainWindowController& owner);
    ~SendersController() override;
    SendersController(const SendersController&) = delete;
    SendersController& operator=(const SendersController&) = delete;

    // TvSendersDelegate, ActiveVersionsDelegate: the receive thread.
    void connectListMessage(const std::string& json) override;
    void changeButtonName(int64_t index, int status) override;
    void activeVersionHandler(int level) override;
    void isSpeakerHandler(bool speaker) override;

    // Folding the panel: its button or count opens it; its hide button, or a click in the window
    // beside the open panel, folds it.
    void clickBallbtn();
    void hiddenConnectList() override;
    void clickBesideConnectList();
    // The panel took a list of that many senders.
    void reportConnectNum(size_t count) override;

    // The panel, fed with the TV's lists while this computer is the speaker.
    ConnectList& connectList() { return connectList_; }

    // The device name.
    void showChangeDeviceWindow() override;
    void cancelDeviceNameButton();
    void inputDeviceNameButton(const std::string& name);
    // After each discovery tick: the connected TV's name as discovery last heard it.
    void refreshTvDevicesName() override;

private:
    // The TV's messages, on the main thread.
    void showSendersList(const std::string& json);
    void showButtonStatus(int64_t index, int status);
    void takeEditionLevel(int level);
    void takeSpeakerRole(bool speaker);
    void showPanel(SendersPanel panel);

    MainWindowController& owner_;
    ThreadAffinity mainThread_;
    SendersPanel panel_;
    ConnectList connectList_;
    MainQueueGuard guard_;
};

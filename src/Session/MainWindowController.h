#pragma once

#include "Media/EncoderH264/RecordManagerToStopScreenDelegate.h"
#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/ROZIOperationDelegate.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "UI/ConnectListDelegate.h"
#include "Platform/MainQueueGuard.h"
#include "UI/SelectCollectionDelegate.h"
#include "Session/SessionServices.h"
#include "Session/SessionState.h"
#include "UI/ShowChangeDeviceNameDelegate.h"
#include "UI/SoundSwitchStateDelegate.h"
#include "UI/TvDevicesNameDelegate.h"
#include "UI/UserChangeVideoQualityDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CastingController;
class ConnectionController;
class ExtendedScreen;
class FileOfferController;
class FileWindowController;
class MainWindowView;
class RoziRelay;
class SendersController;
class TCPManager;
class TvControlController;
class WindowCastController;
class TvScreenController;

// The mediator of the session: the one object the TV link and the main window talk to. It is the
// link's delegate for connection, reverse control and capabilities, and forwards each concern to a
// class of its own (finding and connecting, the senders list and capabilities, casting, the TV's
// control of the computer, the camera and microphone relay), all sharing one SessionState.
//
// Threads: made, used and destroyed on the main thread (asserted). Calls from the link arrive on its
// threads and are moved to the main queue before anything is touched, so every concern runs on the
// main thread only; a call still queued when the controller is destroyed is dropped. The relay is the
// exception: its state lives on its own queue "socketQueue", where the link's relay calls go directly.
class MainWindowController final : public VXTcpConnectDelegate,
                                   public VXTcpReverseControlDelegate,
                                   public ActiveVersionsDelegate,
                                   public ROZIOperationDelegate,
                                   public RecordManagerToStopScreenDelegate,
                                   public TvDevicesNameDelegate,
                                   public ConnectListDelegate,
                                   public SoundSwitchStateDelegate,
                                   public ShowChangeDeviceNameDelegate,
                                   public UserChangeVideoQualityDelegate,
                                   public SelectCollectionDelegate {
public:
    MainWindowController(MainWindowView& view, SessionServices services);
    // Leaves the link's delegate slots and stops discovery and any cast.
    ~MainWindowController() override;
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // The window is up: makes the extended screen, starts discovery and becomes the link's delegate.
    void windowDidLoad();

    // The window is closing: the log is switched off (its closing line written) and the extended
    // screen removed.
    void windowWillClose();

    // The window's actions, on the main thread.
    // The address field's text submitted, by its return key or its arrow button.
    void inputIPTextField(const std::string& text);
    void arrowButton(const std::string& text);
    // The connect button of a TV in the device list.
    void connectDevice(const std::string& ip);
    void clickDisConnectBtn();
    void clickBallbtn();
    void clickBallNumBtn();
    // A click in the window's background outside the open senders panel.
    void clickBesideConnectList();
    void cancelDeviceNameButton();
    void inputDeviceNameButton(const std::string& name);
    // ConnectListDelegate
    void hiddenConnectList() override;
    void reportConnectNum(size_t count) override;
    // ShowChangeDeviceNameDelegate
    void showChangeDeviceWindow() override;
    // Casting: the screen button (a toggle), the stop button, the casting-code window's OK and Cancel.
    void clickScreen(bool screenButtonOn);
    void clickStopScreenBtn();
    void inputScreenProjectionCode(const std::string& typed);
    void cancelScreenProjectionCodeButton();
    // Viewing the TV's screen: the view button (a toggle) and its stop button.
    void clickMirrorBtn(bool mirrorButtonOn);
    void clickStopMirrorBtn();
    // SoundSwitchStateDelegate, UserChangeVideoQualityDelegate
    void reportSoundSwitchState(bool on) override;
    void userChangeVideoQuality() override;

    SessionState& state() { return state_; }
    MainWindowView& view() { return view_; }
    TCPManager& link() { return link_; }
    const SessionServices& services() const { return services_; }
    ConnectionController& connection() { return *connection_; }
    SendersController& senders() { return *senders_; }
    CastingController& casting() { return *casting_; }
    TvControlController& tvControl() { return *tvControl_; }
    ExtendedScreen& extendedScreen() { return *extendedScreen_; }
    FileWindowController& fileWindow() { return *fileWindow_; }
    FileOfferController& fileOffers() { return *fileOffers_; }
    WindowCastController& windowCast() { return *windowCast_; }
    TvScreenController& viewing() { return *viewing_; }
    RoziRelay& relay() { return *relay_; }

    // VXTcpConnectDelegate
    void onConnectSuccess(const std::string& name) override;
    void onConnectFail() override;
    void onDisConnect() override;
    void onReceiveScreenCode(const std::string& code) override;
    void onVideoQuality(int level, int width, int height, int fps) override;
    void onTvcontrolReceived(int type, const uint8_t* data, int64_t len) override;
    void tvRequestMirror() override;
    void tvIntErruptMirror() override;
    void tvMirrorLock() override;
    void connectListMessage(const std::string& json) override;
    void changeButtonName(int64_t index, int status) override;
    void tvShareFile2pc(const std::string& json) override;
    void supportChangeQuality(bool support) override;

    // VXTcpReverseControlDelegate
    void onReceiveScreenReaolution(int width, int height) override;
    void onReveiveScreenVideoData(const uint8_t* data, int64_t len) override;
    void tvScreenStop() override;
    void tvScreenFail(int reason) override;
    void tvKeyHandle(int keyCode) override;
    void pushFileSuccess() override;
    void tvInviteToReverse() override;

    // ActiveVersionsDelegate
    void activeVersionHandler(int level) override;
    void isSpeakerHandler(bool speaker) override;

    // ROZIOperationDelegate: on the receive thread, handed to the relay's queue.
    void onReveiveCameraVideoData(const uint8_t* data, int64_t len) override;
    void handleMicDataToDecode(const uint8_t* data, int len) override;
    void showRoziTipWindow(int code, int64_t type) override;
    void tvOpenRozi(const std::string& device) override;
    void enableRoziFunction(bool enable) override;

    // The relay's server on the interface and port (done by windowDidLoad when the session has a relay
    // port); the outcome is logged. The tip window's button.
    void enableServer(const std::string& interface, uint16_t port);
    void cancelRoziTipWindow();

    // RecordManagerToStopScreenDelegate
    void stopScreenFunction() override;

    // TvDevicesNameDelegate
    void refreshTvDevicesName() override;

    // Window and extended-screen casting: the window page's way in and out, its start button, the
    // connected page's pause; the picker's choice (SelectCollectionDelegate).
    void toWindowInfoView();
    void goWindowInfo();
    void goBack();
    void clickStartWindowScreen();
    void pauseWindowScreen();
    void selectWindow(std::shared_ptr<windowInfo> window) override;
    void selectExpand() override;

private:
    void setLinkDelegates(bool on);
    // Main thread: a tip shows unless one is showing already (which keeps its text).
    void showRoziTip(const std::string& text);

    MainWindowView& view_;
    const SessionServices services_;
    TCPManager& link_;
    SessionState state_;
    ThreadAffinity mainThread_;
    std::unique_ptr<ConnectionController> connection_;
    std::unique_ptr<SendersController> senders_;
    std::unique_ptr<CastingController> casting_;
    std::unique_ptr<TvControlController> tvControl_;
    std::unique_ptr<ExtendedScreen> extendedScreen_;
    std::unique_ptr<FileWindowController> fileWindow_;
    std::unique_ptr<FileOfferController> fileOffers_;
    std::unique_ptr<WindowCastController> windowCast_;
    std::unique_ptr<TvScreenController> viewing_;
    std::shared_ptr<RoziRelay> relay_;
    // Link calls moved to the main queue do nothing once the controller is gone.
    MainQueueGuard guard_;
};

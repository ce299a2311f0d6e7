#pragma once

#include "Session/SessionEnd.h"
#include "Session/SessionServices.h"
#include "Session/SessionState.h"
#include "Platform/MainQueueGuard.h"
#include "Utils/ThreadAffinity.h"

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

// The mediator of the session: makes a class per concern (finding and connecting, the senders list and
// capabilities, casting, window casting, the TV's control of the computer, viewing the TV's screen,
// files both ways, the camera and microphone relay), all sharing one SessionState, and wires each to
// the link's events and the window's delegates it handles. The window's actions go to the concerns
// directly; what stays here is the window's life (loading, closing), the relay's tip window, and the
// end-of-session step, which runs each concern's endSession in a fixed order.
//
// Threads: made, used and destroyed on the main thread (asserted). Each concern moves the link's calls
// to the main queue itself before it touches anything (the relay to its queue "socketQueue"); its
// guard drops a call still queued once the controller is gone. docs/threads.md says the thread of each.
class MainWindowController final {
public:
    MainWindowController(MainWindowView& view, SessionServices services);
    // Leaves the link's delegate slots and stops discovery and any cast.
    ~MainWindowController();
    MainWindowController(const MainWindowController&) = delete;
    MainWindowController& operator=(const MainWindowController&) = delete;

    // The window is up: makes the extended screen, starts discovery, opens the relay's server (when
    // the session has a relay port; the outcome is logged) and registers the concerns with the link.
    void windowDidLoad();
    // The window is closing: the log is switched off (its closing line written) and the extended
    // screen removed.
    void windowWillClose();
    // The relay's tip window's button.
    void cancelRoziTipWindow();

    // The end-of-session step, on the main thread: a cast stopped (CastingController's one stop, on
    // every road), or the link ended (ConnectionController), which first stops a running cast and so
    // comes back here for the cast. Each concern undoes what it started; docs/threads.md lists what.
    void endSession(SessionEnd end);
    // A cast's sound capture is about to start: the sound goes to the loopback device until the cast's
    // end-of-session step puts the user's devices back.
    void routeCastSound();

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

private:
    // Registers each concern for the link's events it handles, or leaves every slot.
    void setLinkDelegates(bool on);
    // Main thread: a tip shows unless one is showing already (which keeps its text).
    void showRoziTip(const std::string& text);

    MainWindowView& view_;
    const SessionServices services_;
    TCPManager& link_;
    SessionState state_;
    ThreadAffinity mainThread_;
    // Set by routeCastSound, cleared by the restore of the cast's end.
    bool soundRouted_ = false;
    // Made before the device list that reports to it, and gone after it.
    std::unique_ptr<SendersController> senders_;
    std::unique_ptr<ConnectionController> connection_;
    std::unique_ptr<CastingController> casting_;
    std::unique_ptr<TvControlController> tvControl_;
    std::unique_ptr<ExtendedScreen> extendedScreen_;
    std::unique_ptr<FileWindowController> fileWindow_;
    std::unique_ptr<FileOfferController> fileOffers_;
    std::unique_ptr<WindowCastController> windowCast_;
    std::unique_ptr<TvScreenController> viewing_;
    std::shared_ptr<RoziRelay> relay_;
    // The relay's tips, posted from "socketQueue", do nothing once the controller is gone.
    MainQueueGuard guard_;
};

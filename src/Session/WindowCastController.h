#pragma once

#include "Media/EncoderH264/RecordManagerToStopScreenDelegate.h"
#include "Session/CastState.h"
#include "Session/SessionEnd.h"
#include "Platform/MainQueueGuard.h"
#include "UI/KeyboardMonitor.h"
#include "UI/SelectCollectionDelegate.h"
#include "Session/WindowCastView.h"
#include "UI/windowCollectionView.h"
#include "Utils/ThreadAffinity.h"

#include <memory>

class MainWindowController;
class WindowListSource;
class windowInfo;

// Casting one window or the extended screen: the window page, the choice of source, start, pause and
// stop, the lost-window report, and the Return key of the casting-code window. The cast itself is
// CastingController's.
//
// Threads: made, used and destroyed on the main thread (asserted); the picker it owns polls on the
// global queue and tells its choice on the main thread; the capture's lost-window report comes on its
// queue and moves to the main queue.
class WindowCastController final : public SelectCollectionDelegate, public RecordManagerToStopScreenDelegate {
public:
    // The Mac's key code of Return, which submits the casting code.
    static constexpr int kReturnKeyCode = 36;

    // windows: the window list the picker polls; nullptr: the X display's (a Wayland session's one
    // "Choose a window" tile there).
    WindowCastController(MainWindowController& owner, std::shared_ptr<WindowListSource> windows);
    ~WindowCastController() override;
    WindowCastController(const WindowCastController&) = delete;
    WindowCastController& operator=(const WindowCastController&) = delete;

    windowCollectionView& picker() { return picker_; }

    // --- The user's actions.
    // The window page: windowBtn, and goWindowBtn (goWindowInfo) while a window cast runs.
    void toWindowInfoView();
    void goWindowInfo();
    void goBack();
    // windowStartBtn: start a cast of the chosen source, or stop the running cast.
    void clickStartWindowScreen();
    // pauseBtn: the choice is dropped and the cast stops.
    void pauseWindowScreen();

    // The picker's choice (SelectCollectionDelegate). A window already chosen changes nothing; the
    // extended screen chosen again restarts a running cast's capture.
    void selectWindow(std::shared_ptr<windowInfo> window) override;
    void selectExpand() override;

    // The capture lost the cast window (RecordManagerToStopScreenDelegate, on its queue "videoOutputQueue"):
    // a running cast stops once; a repeated report does nothing.
    void stopScreenFunction() override;

    // --- Hooks of CastingController.
    // The casting-code window shown and listening for Return, or ordered out and no longer listening.
    void showCastingCodeWindow();
    void hideCastingCodeWindow();
    // A whole-screen cast began: the window choice goes (and the picker's, from the screen button).
    void screenCastStarted(bool fromScreenButton);
    // The end-of-session step: a cast ended (every road): the window page's buttons are back at a
    // start; the link ended: the casting-code window, which asked for that TV's code, is closed.
    void endSession(SessionEnd end);

    // --- The Return-key monitor of the casting-code window.
    void startListening();
    void handleKeyEvent(const KeyboardMonitor::Event& event);
    void stopListening();
    bool listening() const { return listening_; }

private:
    // The lost window, on the main thread.
    void windowLost();
    // The cast stops: the window page's buttons back to a start.
    void stopCast(CastStop why);
    // After a choice: the start button usable, and a running cast switched to the new source.
    void applyChoice();
    void setStartButton(WindowCastView::WindowStartButton state);
    // False (the user told) when the chosen source cannot be cast now.
    bool choiceCastable();

    MainWindowController& owner_;
    windowCollectionView picker_;
    WindowCastView::WindowStartButton startButton_ = WindowCastView::WindowStartButton::Disabled;
    bool pollStarted_ = false;
    bool listening_ = false;
    ThreadAffinity mainThread_;
    MainQueueGuard guard_;
};

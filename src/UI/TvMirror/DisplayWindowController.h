#pragma once

#include "Media/CompressedSample.h"
#include "Socket/VXTcpReverseVersionDelegate.h"
#include "Platform/MainQueueGuard.h"
#include "UI/TvMirror/DisplayGeometry.h"
#include "UI/TvMirror/DisplayInputForwarder.h"

#include <atomic>
#include <memory>

class DisplayLayer;
class DisplayWindowDelegate;
class DisplayWindowView;
class KeycodeConverter;
class TCPManager;

// The TV-screen window's rules: its size from the TV's resolution, the factors that turn content points
// into TV units, the sidebar of TV controls (for TV applications of version kSidebarVersion and up), the
// control status with the keyboard forwarding that follows it, and the window's input as messages to the
// TV (DisplayInputForwarder). Made, used and destroyed on the main thread, but for the link's calls
// (receive thread) and showSampleBuffer (display queue).
class DisplayWindowController final : public VXTcpReverseVersionDelegate {
public:
    static constexpr int kSidebarVersion = 75;
    static constexpr float kMouseScroll = 0.5f;

    struct Services {
        // Sends one message to the TV; only queues it.
        DisplayInputForwarder::Sender sender;
        // Switched on and off with the control status; must outlive the controller.
        KeycodeConverter* keyboard = nullptr;
        // The controller is its reverse-version delegate while it lives; nullptr: no link is told.
        TCPManager* link = nullptr;
    };

    // The view and the layer outlive the controller.
    DisplayWindowController(DisplayWindowView& view, DisplayLayer& layer, Services services);
    ~DisplayWindowController() override;
    DisplayWindowController(const DisplayWindowController&) = delete;
    DisplayWindowController& operator=(const DisplayWindowController&) = delete;

    // Not retained; nullptr: nobody is told.
    void setDisplayWindowDelegate(DisplayWindowDelegate* delegate) { delegate_ = delegate; }

    // Viewing, driven by the session controller.
    void showWindow();
    // Any thread: sizes the window for a TV of that many pixels on the main queue. A side of zero or
    // less is logged and ignored.
    void setMouseSize(DisplaySize tv);
    // Display queue: shows one frame, or drops it (nothing queued, nothing retried).
    void showSampleBuffer(const std::shared_ptr<const CompressedSample>& sample);
    void stopDisplayLayer();

    // VXTcpReverseVersionDelegate: receive thread; the view changes follow on the main queue.
    void tvAppVersion(int version) override;
    void changeControlStatus(bool granted) override;
    void getWindowSizeSendTv(int messageType) override;

    // The sidebar: opened by its handle, folded by its collapse button.
    void sidebarEvent();
    void retractEvent();
    // The handle's pan gesture, by the vertical translation since the last call (the view resets it).
    enum class PanState { Began = 1, Changed = 2, Ended = 3 };
    void onPanGesRecognizer(PanState state, double translationY);

    // The window.
    void windowDidResize();
    // The frame size a user resize ends at: the content stays 16:9.
    DisplaySize windowWillResize(DisplaySize proposedFrame) const;
    // The zoom button's frame: the window's shape at the default frame's height, centred on the main display.
    DisplayRect windowWillUseStandardFrame(DisplayRect defaultFrame) const;
    void windowWillClose();

    // Input in content points (origin lower left). All three mouse buttons act as the one touch.
    void mouseDown(DisplayPoint point);
    void mouseDragged(DisplayPoint point, double deltaX, double deltaY);
    void mouseUp(DisplayPoint point);
    // The pointer entering or leaving the content lifts the touch at the lower-left corner.
    void mouseEntered();
    void mouseExited();
    void scrollWheel(double deltaX, double deltaY);
    // The annotation button, its state already toggled.
    void annotationEvent(bool on);
    void exitAnnotationEvent();
    void revokeEvent();
    void cleanAnnotationEvent();
    void goHomeEvent();

    float mouseScaleX() const { return mouseScale_.x; }
    float mouseScaleY() const { return mouseScale_.y; }
    DisplaySize tvScreenSize() const { return tvScreenSize_; }
    bool controlStatus() const { return controlStatus_.load(); }
    int tvVersion() const { return tvVersion_.load(); }
    bool annotationMode() const { return input_.annotationMode(); }

private:
    // Main queue.
    void applyTvSize(DisplaySize tv);
    void applyControlStatus(bool granted);
    void sendWindowSize(int messageType);
    bool handleShownForVersion() const { return tvVersion_.load() >= kSidebarVersion; }
    bool inside(DisplayPoint point) const;
    void touch(DisplayInputForwarder::TouchPhase phase, DisplayPoint point);

    DisplayWindowView& view_;
    DisplayLayer& layer_;
    KeycodeConverter* const keyboard_;
    TCPManager* const link_;
    DisplayWindowDelegate* delegate_ = nullptr;
    DisplayInputForwarder input_;

    // Main thread.
    DisplayInputForwarder::Scales mouseScale_;
    const DisplayInputForwarder::Scales mouseScroll_{kMouseScroll, kMouseScroll};
    DisplaySize tvScreenSize_;

    // Written on the receive thread, read on the main thread.
    std::atomic<bool> controlStatus_{true};
    std::atomic<int> tvVersion_{0};

    // Last: queued work is dropped before the rest goes.
    MainQueueGuard mainQueue_;
};

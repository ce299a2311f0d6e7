#pragma once

#include "Session/CastMedia.h"
#include "Session/ExtendedScreenServices.h"
#include "Platform/MainQueueGuard.h"
#include "Utils/ThreadAffinity.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class ExtendTileView;
class SerialQueue;
struct SessionState;

// The extended screen: a virtual display right of the main display that windows can be moved onto and
// that is cast like a display. Made when the window loads and kept until the window closes; after
// each change of the displays it refreshes the Extend tile's picture, tells whether it still stands
// beside the main display (isMirrorStatus), places it right of the main display again, and restarts a
// running cast's capture with the new geometry.
//
// Threads: main thread (asserted), but for the placement, which runs on "com.vorz.setDispatchOrigin".
class ExtendedScreen {
public:
    // Only the first display change in this time is handled, and its work runs this much later.
    static constexpr std::chrono::seconds kDisplayChangeDelay{1};

    // `restartCapture` restarts a running cast's capture (userChangeVideoQuality); it does nothing
    // while no cast runs.
    ExtendedScreen(ExtendTileView& tile, SessionState& state, ExtendedScreenServices services,
                   std::function<void()> restartCapture);
    // Waits for a placement under way, then removes the virtual display.
    ~ExtendedScreen();
    ExtendedScreen(const ExtendedScreen&) = delete;
    ExtendedScreen& operator=(const ExtendedScreen&) = delete;

    // The window has loaded: makes the virtual display, watches the displays, and handles the
    // display's appearance as the display change it is.
    void windowDidLoad();
    // Makes the virtual display; where it is refused the Extend tile is disabled.
    void createDisplay();
    // Removes the virtual display (the window closes).
    void releaseDisplay();
    // The displays changed.
    void displayChange();
    // Shows what the virtual display shows now on the Extend tile (the window page's first showing).
    void showSnapshot();

    bool available() const { return display_ != nullptr; }
    // What an extended cast captures: the virtual display's id, and where the TV's touches land (the
    // virtual display, or the main display while it mirrors that); nullopt without a virtual display.
    std::optional<CastDisplay> castDisplay() const;

private:
    // The display change's work, a second after it.
    void refresh();
    // Moves the virtual display, now at `frame`, right of the main display unless it is there already.
    void makeVirtualDisplay2Right(const PixelRect& main, const PixelRect& frame);

    ExtendTileView& tile_;
    SessionState& state_;
    const ExtendedScreenServices services_;
    const std::function<void()> restartCapture_;
    ThreadAffinity mainThread_;
    const std::shared_ptr<SerialQueue> make2RightQueue_;
    // Shared with the placements queued on make2RightQueue_.
    std::shared_ptr<VirtualDisplay> display_;
    std::shared_ptr<void> watch_;
    // When the last display change was accepted, on the main queue's clock.
    std::optional<std::chrono::steady_clock::time_point> lastDisplayChange_;
    MainQueueGuard guard_;
};

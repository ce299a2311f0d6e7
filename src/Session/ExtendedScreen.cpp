#include "Session/ExtendedScreen.h"

#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/VirtualDisplayPlacement.h"
#include "Session/ExtendTileView.h"
#include "Session/SessionState.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cassert>

ExtendedScreen::ExtendedScreen(ExtendTileView& tile, SessionState& state, ExtendedScreenServices services,
                               std::function<void()> restartCapture)
    : tile_(tile),
      state_(state),
      services_(services.withDefaults()),
      restartCapture_(std::move(restartCapture)),
      make2RightQueue_(SerialQueue::create("com.vorz.setDispatchOrigin"))
{
    assert(mainThread_.holds());
}

ExtendedScreen::~ExtendedScreen()
{
    assert(mainThread_.holds());
    watch_.reset();
    releaseDisplay();
}

void ExtendedScreen::windowDidLoad()
{
    assert(mainThread_.holds());
    createDisplay();
    watch_ = services_.watchDisplayChanges([this] { displayChange(); });
    displayChange();
}

void ExtendedScreen::createDisplay()
{
    assert(mainThread_.holds());
    ExtendedScreenServices::Made made = services_.createDisplay();
    if (!made.display)
        PLOG("no extended screen: %s", made.refusal.c_str());
    display_ = std::move(made.display);
    tile_.setExtendAvailable(display_ != nullptr);
}

void ExtendedScreen::releaseDisplay()
{
    assert(mainThread_.holds());
    // A placement under way holds the display too: once it is done the display goes here.
    make2RightQueue_->sync([] {});
    display_.reset();
}

void ExtendedScreen::displayChange()
{
    assert(mainThread_.holds());
    const auto now = MainQueue::shared()->now();
    if (lastDisplayChange_ && now - *lastDisplayChange_ < kDisplayChangeDelay)
        return;
    // Stamped when accepted, not when handled: a burst within the delay makes one refresh.
    lastDisplayChange_ = now;
    guard_.postAfter(kDisplayChangeDelay, [this] { refresh(); });
}

void ExtendedScreen::refresh()
{
    assert(mainThread_.holds());
    showSnapshot();
    const auto layout = display_ ? display_->layout() : std::nullopt;
    // Not beside the main display: gone from the screens, become the main display, or showing the
    // same area as it (mirrored).
    const bool beside = layout && layout->frame && layout->mainId != display_->displayId() &&
                        *layout->frame != layout->mainFrame;
    state_.isMirrorStatus = !beside;
    if (beside)
        makeVirtualDisplay2Right(layout->mainFrame, *layout->frame);
    restartCapture_();
}

void ExtendedScreen::showSnapshot()
{
    assert(mainThread_.holds());
    if (display_)
        tile_.setExtendSnapshot(display_->snapshot());
}

void ExtendedScreen::makeVirtualDisplay2Right(const PixelRect& main, const PixelRect& frame)
{
    const VirtualDisplayPlacement origin = VirtualDisplayPlacement::rightOf(main, display_->height());
    if (frame.x == origin.x && frame.y == origin.y)
        return;
    // The server's work (the screen may grow) is done off the main thread.
    make2RightQueue_->async([display = display_, origin] { display->placeAt(origin.x, origin.y); });
}

std::optional<CastDisplay> ExtendedScreen::castDisplay() const
{
    assert(mainThread_.holds());
    if (!display_)
        return std::nullopt;
    const auto layout = display_->layout();
    if (!layout || !layout->frame)
        return std::nullopt;
    const PixelRect& frame = state_.isMirrorStatus ? layout->mainFrame : *layout->frame;
    // The smaller of the two displays' sizes, as the capture's source size.
    return CastDisplay{display_->displayId(),
                       {frame.x, frame.y, std::min(layout->mainFrame.width, layout->frame->width),
                        std::min(layout->mainFrame.height, layout->frame->height)}};
}

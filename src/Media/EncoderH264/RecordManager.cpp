#include "Media/EncoderH264/RecordManager.h"

#include "Media/EncoderH264/KeyFrameGate.h"
#include "Media/EncoderH264/LetterboxCanvas.h"
#include "Media/EncoderH264/RecordManagerToStopScreenDelegate.h"
#include "Media/EncoderH264/SelectedWindowFrame.h"
#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Media/EncoderH264/windowInfo.h"
#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Platform/X11Cursor.h"
#include "Platform/X11Display.h"
#include "Platform/X11DisplayChangeSource.h"
#include "Platform/X11ScreenCapture.h"
#include "Platform/X11WindowCapture.h"
#include "Utils/EncryptedFrame.h"
#include "Utils/InsideCall.h"
#include "Utils/Locked.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace {

// Far beyond any screen; keeps conversions of outside values to int defined.
constexpr double kPixelLimit = 1 << 20;

int toPixels(double value)
{
    return std::isfinite(value) ? static_cast<int>(std::clamp(value, -kPixelLimit, kPixelLimit)) : 0;
}

// x264 takes 4:2:0 pictures of even sizes only, and odd window or scaled sizes (1366 x 767) are
// common: the encoded picture drops the odd row or column.
int evenPixels(double value)
{
    return toPixels(value) / 2 * 2;
}

// The window picture gets the cursor only while the pointer is over the window's frame, as the
// window picker last saw it.
void drawCursorOverWindow(X11Cursor& cursor, BgraFrame& picture)
{
    const WindowRect frame = gSelectedWindowFrame.load();
    const std::optional<X11Cursor::Image> image = cursor.current();
    if (!image || image->x < frame.x || image->x >= frame.x + frame.width || image->y < frame.y
        || image->y >= frame.y + frame.height) {
        return;
    }
    X11Cursor::draw(image->pixels, picture, toPixels(image->x - frame.x) - image->hotX,
                    toPixels(image->y - frame.y) - image->hotY);
}

} // namespace

// What one capture works with; used on the capture queue from the first tick to the stop, and freed there.
struct RecordManager::Capture {
    Capture(ScreenType sourceType, uint32_t sourceScreenId, int32_t sourceWindowId, int castWidth, int castHeight,
            std::shared_ptr<TzVideoEncoder> videoEncoder)
        : type(sourceType), screenId(sourceScreenId), windowId(sourceWindowId), width(castWidth),
          height(castHeight), encoder(std::move(videoEncoder)),
          gate([requestFrom = encoder.get()] { requestFrom->requestKeyFrame(); })
    {
    }

    const ScreenType type;
    const uint32_t screenId;
    const int32_t windowId;
    const int width;
    const int height;
    // Shared: deallocRecord may drop the object's reference while a tick still encodes.
    const std::shared_ptr<TzVideoEncoder> encoder;
    KeyFrameGate gate;
    TzVideoEncoder::CompletionBlock completion;

    std::unique_ptr<X11Display> display;
    std::unique_ptr<X11Cursor> cursor;
    // Display road: the display captured (0: the whole X screen); the screen capture keeps where it
    // shows until the display change source says the displays changed.
    std::unique_ptr<X11ScreenCapture> screen;
    std::unique_ptr<X11DisplayChangeSource> displayChanges;
    uint32_t displayId = 0;
    // Window road.
    std::unique_ptr<X11WindowCapture> window;
    std::unique_ptr<LetterboxCanvas> canvas;
    // Source road (before the picture, which may show the source's memory and goes first).
    std::unique_ptr<CaptureSource> source;
    // Set by the stop, so a source still waiting for the user's consent gives up.
    const std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
    int failuresInARow = 0;
    bool windowLostReported = false;

    BgraFrame picture;
    // A capture error ended the capture; later ticks do nothing.
    bool ended = false;
};

RecordManager::RecordManager(Link link, std::string displayName, CaptureSourceFactory sources)
    : link_(std::move(link)), displayName_(std::move(displayName)), sources_(std::move(sources)),
      captureQueue_(SerialQueue::create("videoOutputQueue"))
{
}

RecordManager::~RecordManager()
{
    assertNotOnCaptureQueue();
    StopRecord();
}

void RecordManager::assertNotOnCaptureQueue() const
{
    // The capture queue's ticks use this object, and a stop there cannot wait for the tick it runs in.
    assert(!captureQueue_->isCurrent() && "start, deallocRecord and destruction never from the capture queue");
}

void RecordManager::setDelegate(RecordManagerToStopScreenDelegate* delegate)
{
    delegate_.store(delegate);
}

void RecordManager::SetCallback(void* userData, MediaDataCallback callback)
{
    // The callback runs with this mutex held, and it is not recursive.
    assert(!InsideCall<RecordManager>::of(this) && "SetCallback never from the output callback");
    std::lock_guard lock(callbackMutex_);
    userData_ = userData;
    fnCallback_ = callback;
}

int32_t RecordManager::bitRateFor(double width, double height)
{
    const double bits = width * height * 3.0 * 4.0 * 8.0;
    if (std::isnan(bits)) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(bits, static_cast<double>(std::numeric_limits<int32_t>::min()),
                                           static_cast<double>(std::numeric_limits<int32_t>::max())));
}

void RecordManager::StartRecord(double width, double height, int32_t framerate, ScreenType type,
                                const std::shared_ptr<windowInfo>& window, uint32_t screenId)
{
    assertNotOnCaptureQueue();
    if (framerate < 1) {
        PLOG("capture not started: frame rate %d", framerate);
        return;
    }
    if (type == kScreenTypeWindow && !window) {
        PLOG("capture not started: no window chosen");
        return;
    }
    const int32_t bitRate = bitRateFor(width, height);
    const int encodedWidth = evenPixels(width);
    const int encodedHeight = evenPixels(height);
    // Made before our lock is taken, never inside it: the encoder's output (our callback) may ask for
    // our state while the encoder's lock is held.
    auto encoder = std::make_shared<TzVideoEncoder>(link_.parameterSets);
    if (encoder->startEncodeSessionWithVideoSize(encodedWidth, encodedHeight, framerate, bitRate) != 0) {
        // Every frame would be dropped: a cast that counted as started would send nothing.
        PLOG("capture not started: no encoder session for %.0f x %.0f at %d fps", width, height, framerate);
        return;
    }
    std::lock_guard lock(mutex_);
    if (isStarted_) {
        return;
    }
    screenType_ = type;
    screenId_ = screenId;
    width_ = width;
    height_ = height;
    fps_ = framerate;
    bitRate_ = bitRate;
    windowId_ = window ? window->windowId() : 0;
    videoEncoder_ = std::move(encoder);
    if (type == kScreenTypeWholeScreen || type == kScreenTypeExtendedScreen || type == kScreenTypeWindow) {
        capture_ = std::make_shared<Capture>(type, screenId, windowId_, encodedWidth, encodedHeight, videoEncoder_);
        capture_->completion = [this, &gate = capture_->gate](std::span<const uint8_t> accessUnit) {
            deliver(gate, accessUnit);
        };
        // The first tick at once, then one every 1/fps s; each runs on the capture queue.
        captureTimer_ = std::make_unique<DispatchTimer>(captureQueue_, [this] { captureFrame(); });
        captureTimer_->start(std::chrono::nanoseconds(0), std::chrono::nanoseconds(1'000'000'000 / fps_));
    }
    isStarted_ = true;
}

void RecordManager::StopRecord()
{
    std::unique_ptr<DispatchTimer> timer;
    std::shared_ptr<Capture> capture;
    std::shared_ptr<TzVideoEncoder> encoder;
    {
        std::lock_guard lock(mutex_);
        if (isStarted_) {
            // Under the lock: no tick begins once it is let go, so a concurrent stop that finds
            // nothing to stop has only the tick in flight to wait for.
            if (captureTimer_) {
                captureTimer_->cancel();
            }
            timer = std::move(captureTimer_);
            capture = std::move(capture_);
            if (capture)
                capture->cancelled->store(true);
            encoder = videoEncoder_;
            isStarted_ = false;
        }
    }
    awaitTick(std::move(capture));
    if (encoder) {
        encoder->stopEncodeSession();
    }
}

void RecordManager::awaitTick(std::shared_ptr<Capture> capture)
{
    // Inside a tick (the delegate, the callback) there is nothing to wait for: the tick holds its
    // own reference, and the capture goes when the tick ends, on this queue.
    if (captureQueue_->isCurrent()) {
        return;
    }
    // Waits for a tick that has begun; the capture's X resources go on the queue that used them.
    captureQueue_->sync([&capture] { capture.reset(); });
}

void RecordManager::deallocRecord()
{
    assertNotOnCaptureQueue();
    // A capture left running would feed an encoder that is about to go.
    StopRecord();
    // Let go after the lock: the encoder's teardown takes its own lock, never taken inside ours.
    std::shared_ptr<TzVideoEncoder> encoder;
    {
        std::lock_guard lock(mutex_);
        encoder = std::move(videoEncoder_);
        width_ = 0;
        height_ = 0;
        fps_ = -1;
        bitRate_ = -1;
    }
    SetCallback(nullptr, nullptr);
}

bool RecordManager::IsStarted() const
{
    return lockedRead(mutex_, isStarted_);
}

double RecordManager::width() const
{
    return lockedRead(mutex_, width_);
}

double RecordManager::height() const
{
    return lockedRead(mutex_, height_);
}

int32_t RecordManager::fps() const
{
    return lockedRead(mutex_, fps_);
}

int32_t RecordManager::bitRate() const
{
    return lockedRead(mutex_, bitRate_);
}

ScreenType RecordManager::screenType() const
{
    return lockedRead(mutex_, screenType_);
}

void RecordManager::captureFrame()
{
    // Held to the end of the tick, which a stop from inside it (the delegate, the callback) may not free.
    const std::shared_ptr<Capture> held = lockedRead(mutex_, capture_);
    if (!held || held->ended) {
        return;
    }
    Capture& capture = *held;
    if (sources_) {
        captureFromSource(capture);
        return;
    }
    if (!capture.display) {
        capture.display = X11Display::open(displayName_);
        if (!capture.display) {
            captureError(capture, "no X display");
            return;
        }
        capture.cursor = std::make_unique<X11Cursor>(*capture.display);
    }
    if (capture.type == kScreenTypeWindow) {
        captureWindow(capture);
    } else {
        captureDisplay(capture);
    }
    if (!capture.ended && capture.display->lost()) {
        captureError(capture, "X connection lost");
    }
}

void RecordManager::captureDisplay(Capture& capture)
{
    if (!capture.screen) {
        capture.screen = std::make_unique<X11ScreenCapture>(*capture.display);
        if (std::optional<X11ScreenCapture::DisplayInfo> asked = capture.screen->findDisplay(capture.screenId)) {
            capture.displayId = asked->id;
        } else if (const auto all = capture.screen->displays(); !all.empty()) {
            PLOG("no display %u: capturing the primary display %u", capture.screenId, all.front().id);
            capture.displayId = all.front().id;
        }
        // Capture queue, one call at a time with the ticks; the source goes before the screen capture.
        capture.displayChanges = X11DisplayChangeSource::create(
            captureQueue_, [&screen = *capture.screen] { screen.displaysChanged(); }, displayName_);
    }
    if (capture.screen->capture(capture.displayId, capture.picture) != X11ScreenCapture::CaptureResult::kOk) {
        captureError(capture, capture.display->lost() ? "X connection lost" : "display capture failed");
        return;
    }
    // The display's picture shows the cursor, as the user sees it.
    const PixelRect area = capture.screen->capturedArea().value_or(PixelRect{});
    if (std::optional<X11Cursor::Image> cursor = capture.cursor->current()) {
        X11Cursor::draw(cursor->pixels, capture.picture, cursor->left() - area.x, cursor->top() - area.y);
    }
    capture.encoder->encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(capture.picture), 0, capture.completion);
}

void RecordManager::captureWindow(Capture& capture)
{
    if (!capture.window) {
        capture.window = std::make_unique<X11WindowCapture>(*capture.display, static_cast<uint32_t>(capture.windowId));
        capture.canvas = std::make_unique<LetterboxCanvas>(capture.width, capture.height);
    }
    switch (capture.window->capture(capture.picture)) {
    case X11WindowCapture::CaptureResult::kOk:
        capture.failuresInARow = 0;
        break;
    case X11WindowCapture::CaptureResult::kWindowGone:
        windowLost(capture);
        return;
    case X11WindowCapture::CaptureResult::kFailed:
        if (capture.display->lost()) {
            captureError(capture, "X connection lost");
        } else if (++capture.failuresInARow >= 2) {
            // A hidden window fails every tick; a single failure can be a resize racing the read.
            windowLost(capture);
        }
        return;
    }
    drawCursorOverWindow(*capture.cursor, capture.picture);
    if (capture.canvas->place(capture.picture)) {
        capture.encoder->encodeWithSampleBuffer(capture.canvas->frame(), 0, capture.completion);
    }
}

void RecordManager::captureFromSource(Capture& capture)
{
    if (!capture.source) {
        const CaptureRequest::Kind kind = capture.type == kScreenTypeWindow ? CaptureRequest::Kind::kWindow
            : capture.type == kScreenTypeExtendedScreen                    ? CaptureRequest::Kind::kVirtual
                                                                            : CaptureRequest::Kind::kMonitor;
        capture.source = sources_(CaptureRequest{kind, capture.screenId, capture.cancelled});
        if (!capture.source) {
            captureError(capture, "no capture source");
            return;
        }
        if (kind == CaptureRequest::Kind::kWindow)
            capture.canvas = std::make_unique<LetterboxCanvas>(capture.width, capture.height);
    }
    switch (capture.source->capture(capture.picture)) {
    case CaptureSource::Result::kFrame:
        break;
    case CaptureSource::Result::kNoFrame:
        return;
    case CaptureSource::Result::kLost:
        if (capture.type == kScreenTypeWindow)
            windowLost(capture);
        else
            captureError(capture, "the shared screen went away");
        return;
    case CaptureSource::Result::kFailed:
        // A refused or failed share of one window stops that cast as a lost window does.
        if (capture.type == kScreenTypeWindow && !capture.cancelled->load())
            windowLost(capture);
        else if (!capture.cancelled->load())
            captureError(capture, "screen capture failed");
        capture.ended = true;
        return;
    }
    if (!capture.canvas) {
        capture.encoder->encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(capture.picture), 0, capture.completion);
    } else if (capture.canvas->place(capture.picture)) {
        capture.encoder->encodeWithSampleBuffer(capture.canvas->frame(), 0, capture.completion);
    }
    // The source's buffer goes back to it before the next tick.
    capture.picture.clear();
}

void RecordManager::captureError(Capture& capture, const char* what)
{
    capture.ended = true;
    // Closed on the thread that met the failure: after a broken connection libX11 may still hold the
    // display's lock for this thread, and a close from another thread would wait for it forever.
    capture.window.reset();
    capture.displayChanges.reset();
    capture.screen.reset();
    capture.cursor.reset();
    capture.display.reset();
    capture.picture.clear();
    capture.source.reset();
    PLOG("capture screen error: %s", what);
    // The owner ends the cast (through the link's end).
    if (link_.captureFailure) {
        link_.captureFailure->captureFailed();
    }
}

void RecordManager::windowLost(Capture& capture)
{
    if (capture.windowLostReported) {
        return;
    }
    capture.windowLostReported = true;
    PLOG("the cast window gives no picture: it is closed or hidden");
    if (RecordManagerToStopScreenDelegate* delegate = delegate_.load()) {
        delegate->stopScreenFunction();
    }
}

void RecordManager::deliver(KeyFrameGate& gate, std::span<const uint8_t> accessUnit)
{
    // Known before the unit is protected, which hides its NAL units.
    const bool keyFrame = KeyFrameGate::isKeyFrame(accessUnit);
    if (!gate.admits(keyFrame)) {
        return;
    }
    // Read once and held for the whole frame, so a key replaced meanwhile stays alive.
    const SessionKey key = link_.sessionKey ? link_.sessionKey->sessionKey() : nullptr;
    std::optional<std::vector<uint8_t>> sealed;
    if (key) {
        sealed = EncryptedFrame::protect(accessUnit, *key);
        if (!sealed) {
            PLOG("video frame dropped: it could not be protected");
            gate.handedOver(keyFrame, false);
            return;
        }
        accessUnit = *sealed;
    }
    std::lock_guard lock(callbackMutex_);
    if (fnCallback_) {
        const InsideCall<RecordManager> callingBack(this);
        const int32_t result = fnCallback_(userData_, accessUnit.data(), static_cast<uint32_t>(accessUnit.size()));
        gate.handedOver(keyFrame, result >= 0);
    }
}

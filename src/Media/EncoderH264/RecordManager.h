#pragma once

#include "Media/EncoderH264/CaptureFailureReport.h"
#include "Media/EncoderH264/MediaDataCallback.h"
#include "Media/EncoderH264/ParameterSetRequest.h"
#include "Media/EncoderH264/ScreenType.h"
#include "Media/EncoderH264/SessionKeyProvider.h"
#include "Platform/CaptureSource.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

class DispatchTimer;
class KeyFrameGate;
struct RecordCapture;
class RecordManagerToStopScreenDelegate;
class SerialQueue;
class TzVideoEncoder;
class windowInfo;

// Captures the one source of a cast (a display, or one window) at the cast's size and frame rate,
// encodes every frame with its own TzVideoEncoder, protects each access unit with the session key
// when one exists, and hands it to the MediaDataCallback. What it needs of the TV link comes through
// the Link its owner gives it. One object per cast: start it once, stop it, release it with
// deallocRecord.
//
// Threads: start and deallocRecord come from the session controller's threads, stop from those or
// from the capture queue (the delegate, the callback). Capture runs on one serial queue, ticked by a
// timer at the frame rate, so frames reach the encoder in order; the encoder delivers each access
// unit on that queue, before the frame's tick ends. Once StopRecord returns, neither the callback
// nor the delegate is called again (from inside a tick: once that tick ends).
class RecordManager {
public:
    // What a cast needs from the TV link, bound by whoever starts the cast. Each may be null: no key
    // (frames go out in clear), no report (a capture failure is only logged), no parameter-set requests.
    struct Link {
        std::shared_ptr<SessionKeyProvider> sessionKey;
        std::shared_ptr<CaptureFailureReport> captureFailure;
        std::shared_ptr<ParameterSetRequest> parameterSets;
    };

    // Captures the X display `displayName` ($DISPLAY when empty), or, given `sources`, the sources it
    // makes (a Wayland session's).
    explicit RecordManager(Link link = {}, std::string displayName = {}, CaptureSourceFactory sources = {});
    // Stops a running capture. Not on the capture queue (asserted).
    ~RecordManager();
    RecordManager(const RecordManager&) = delete;
    RecordManager& operator=(const RecordManager&) = delete;

    // Not owned; the owner clears it (or stops the capture) before it goes away. Any thread.
    void setDelegate(RecordManagerToStopScreenDelegate* delegate);
    // Stores the output callback with its user data; the latest pair wins. Once this returns, the
    // pair it replaced is no longer running nor called. Never from the callback (asserted).
    void SetCallback(void* userData, MediaDataCallback callback);

    // Starts capturing at width x height and framerate frames per second: type 0 or 1 captures the
    // display screenId (the primary display when no attached display has that id), type 2 the
    // window of `window`; any other type captures nothing but still marks the object started.
    // Nothing while started; a frame rate below 1, type 2 without a window, or a size the encoder
    // refuses starts nothing. The encoder gets the size rounded down to even numbers. Not on the
    // capture queue (asserted).
    void StartRecord(double width, double height, int32_t framerate, ScreenType type,
                     const std::shared_ptr<windowInfo>& window, uint32_t screenId);
    // Stops the capture and the encoder session; nothing when not started. From another thread it
    // waits, without holding the object's lock, for a frame in flight, even one that a concurrent stop
    // left running. From the capture queue it returns at once: the tick it runs in is the last, and
    // the capture is freed when that tick ends.
    void StopRecord();
    // Stops, then drops the encoder, clears the size, frame rate, bit rate and callback. Not on the
    // capture queue (asserted).
    void deallocRecord();

    bool IsStarted() const;
    double width() const;
    double height() const;
    int32_t fps() const;
    int32_t bitRate() const;
    ScreenType screenType() const;

    // The bit rate asked of the encoder for a cast of width x height: 96 bits per pixel and second,
    // kept within a signed 32-bit number.
    static int32_t bitRateFor(double width, double height);

private:
    using Capture = RecordCapture;

    // Capture queue: one tick of the timer.
    void captureFrame();
    // Waits for the tick in flight, then lets the capture go on the capture queue.
    void awaitTick(std::shared_ptr<Capture> capture);
    void assertNotOnCaptureQueue() const;
    void captureDisplay(Capture& capture);
    void captureWindow(Capture& capture);
    // Capture queue: one picture from the source the factory made.
    void captureFromSource(Capture& capture);
    // Capture queue: the source can no longer be read. Reports the failure, once.
    void captureError(Capture& capture, const char* what);
    // Capture queue: the cast window can no longer be captured. Tells the delegate, once.
    void windowLost(Capture& capture);
    // Capture queue, inside the encoder: protects and hands over one access unit, unless the gate
    // holds it back; tells the gate whether it went through.
    void deliver(KeyFrameGate& gate, std::span<const uint8_t> accessUnit);

    const Link link_;
    const std::string displayName_;
    const CaptureSourceFactory sources_;
    const std::shared_ptr<SerialQueue> captureQueue_;
    std::atomic<RecordManagerToStopScreenDelegate*> delegate_{nullptr};

    // Guards the callback pair; held while the callback runs.
    std::mutex callbackMutex_;
    void* userData_ = nullptr;
    MediaDataCallback fnCallback_ = nullptr;

    // Guards the fields below, set by the controller's calls.
    mutable std::mutex mutex_;
    bool isStarted_ = false;
    double width_ = 0;
    double height_ = 0;
    int32_t fps_ = 0;
    int32_t bitRate_ = 0;
    int32_t windowId_ = 0;
    uint32_t screenId_ = 0;
    ScreenType screenType_ = kScreenTypeWholeScreen;
    std::shared_ptr<TzVideoEncoder> videoEncoder_;
    std::unique_ptr<DispatchTimer> captureTimer_;
    // Each tick takes its own reference, so a stop from inside the tick frees nothing the tick uses.
    std::shared_ptr<Capture> capture_;
};

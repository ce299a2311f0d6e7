#pragma once

#include "Media/EncoderH264/KeyFrameGate.h"
#include "Media/EncoderH264/LetterboxCanvas.h"
#include "Media/EncoderH264/ScreenType.h"
#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Platform/BgraFrame.h"
#include "Platform/CaptureSource.h"
#include "Platform/X11Cursor.h"
#include "Platform/X11Display.h"
#include "Platform/X11DisplayChangeSource.h"
#include "Platform/X11ScreenCapture.h"
#include "Platform/X11WindowCapture.h"

#include <atomic>
#include <cstdint>
#include <memory>

// What one capture works with; used on the capture queue from the first tick to the stop, and freed there.
struct RecordCapture {
    RecordCapture(ScreenType sourceType, uint32_t sourceScreenId, int32_t sourceWindowId, int castWidth, int castHeight,
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

#pragma once

#include "Media/CompressedSample.h"

#include <memory>

// The picture of the TV-screen window: it decodes the samples it is given and shows them aspect-fit.
// Every member is safe from any thread: frames come on the display queue, the flush on the main thread.
class DisplayLayer {
public:
    enum class Status { Unknown = 0, Rendering = 1, Failed = 2 };

    virtual ~DisplayLayer() = default;

    virtual Status status() const = 0;
    // False while the layer holds as many samples as it takes.
    virtual bool isReadyForMoreMediaData() const = 0;
    // Queues the sample for decoding and asks for the picture to be redrawn.
    virtual void enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample) = 0;
    // Drops what is queued and removes the last picture from the window.
    virtual void flushAndRemoveImage() = 0;
};

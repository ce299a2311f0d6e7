#pragma once

#include "Media/VideoDisplaySink.h"
#include "UI/TvMirror/DisplayLayer.h"

// The TV-screen window's picture on our display sink: the samples are decoded on the sink's worker and
// each picture (or its removal) goes to the handler, which the window draws from. Any thread.
class VideoDisplayLayer final : public DisplayLayer {
public:
    explicit VideoDisplayLayer(VideoDisplaySink::PictureHandler onPicture);

    Status status() const override;
    bool isReadyForMoreMediaData() const override;
    void enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample) override;
    void flushAndRemoveImage() override;

    VideoDisplaySink& sink() { return sink_; }

private:
    // Mutable: asking for room is a const question here, but the sink notes a "no" as a gap in the stream.
    mutable VideoDisplaySink sink_;
};

#include "UI/TvMirror/VideoDisplayLayer.h"

#include <utility>

VideoDisplayLayer::VideoDisplayLayer(VideoDisplaySink::PictureHandler onPicture) : sink_(std::move(onPicture)) {}

DisplayLayer::Status VideoDisplayLayer::status() const
{
    switch (sink_.status()) {
    case VideoDisplaySink::Status::Rendering:
        return Status::Rendering;
    case VideoDisplaySink::Status::Failed:
        return Status::Failed;
    case VideoDisplaySink::Status::Unknown:
        break;
    }
    return Status::Unknown;
}

bool VideoDisplayLayer::isReadyForMoreMediaData() const
{
    return sink_.isReadyForMoreMediaData();
}

void VideoDisplayLayer::enqueueSampleBuffer(std::shared_ptr<const CompressedSample> sample)
{
    sink_.enqueueSampleBuffer(std::move(sample));
}

void VideoDisplayLayer::flushAndRemoveImage()
{
    sink_.flushAndRemoveImage();
}

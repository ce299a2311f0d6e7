#include "Media/EncoderH264/LetterboxCanvas.h"

#include "Platform/WindowFit.h"
#include "Utils/Log.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>

namespace {

// Black in the video range that the encoder's conversion produces.
constexpr uint8_t kBlackLuma = 16;
constexpr uint8_t kNeutralChroma = 128;

size_t planeSize(int width, int height)
{
    return static_cast<size_t>(std::max(width, 0)) * static_cast<size_t>(std::max(height, 0));
}

} // namespace

LetterboxCanvas::LetterboxCanvas(int width, int height)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), chromaWidth_((width_ + 1) / 2),
      chromaHeight_((height_ + 1) / 2), luma_(planeSize(width_, height_)),
      blue_(planeSize(chromaWidth_, chromaHeight_)), red_(planeSize(chromaWidth_, chromaHeight_))
{
    clear();
}

LetterboxCanvas::~LetterboxCanvas()
{
    sws_freeContext(scaler_);
}

void LetterboxCanvas::clear()
{
    std::fill(luma_.begin(), luma_.end(), kBlackLuma);
    std::fill(blue_.begin(), blue_.end(), kNeutralChroma);
    std::fill(red_.begin(), red_.end(), kNeutralChroma);
}

bool LetterboxCanvas::place(const BgraFrame& picture)
{
    const Rect place = WindowFit::fit(picture.width, picture.height, width_, height_);
    if (place.width == 0 || picture.stride < picture.width * 4
        || picture.bytes().size() < planeSize(picture.stride, picture.height)) {
        return false;
    }
    scaler_ = sws_getCachedContext(scaler_, picture.width, picture.height, AV_PIX_FMT_BGR0, place.width,
                                   place.height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler_) {
        PLOG("cannot scale a %d x %d window picture to %d x %d", picture.width, picture.height, place.width,
             place.height);
        return false;
    }
    // The old picture's place may show parts the new one leaves uncovered: they become bars.
    if (place != placement_) {
        clear();
        placement_ = place;
    }
    // WindowFit keeps the origin even, so it falls on a chroma sample.
    uint8_t* const destination[4] = {
        luma_.data() + static_cast<size_t>(place.y) * width_ + place.x,
        blue_.data() + static_cast<size_t>(place.y / 2) * chromaWidth_ + place.x / 2,
        red_.data() + static_cast<size_t>(place.y / 2) * chromaWidth_ + place.x / 2,
        nullptr,
    };
    const int destinationStrides[4] = {width_, chromaWidth_, chromaWidth_, 0};
    const uint8_t* const source[4] = {picture.bytes().data(), nullptr, nullptr, nullptr};
    const int sourceStrides[4] = {picture.stride, 0, 0, 0};
    sws_scale(scaler_, source, sourceStrides, 0, picture.height, destination, destinationStrides);
    return true;
}

TzVideoEncoder::Frame LetterboxCanvas::frame() const
{
    TzVideoEncoder::Frame frame;
    frame.format = TzVideoEncoder::Frame::Format::I420;
    frame.width = width_;
    frame.height = height_;
    frame.planes = {luma_, blue_, red_};
    frame.strides = {width_, chromaWidth_, chromaWidth_};
    return frame;
}

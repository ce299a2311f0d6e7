#include "Media/EncoderH264/SlicedI420Converter.h"

#include "Utils/Log.h"

#include <libyuv/convert_from_argb.h>

extern "C" {
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <thread>

namespace {

constexpr int kMaxDefaultThreads = 4;
// The scaler's vector code writes whole blocks past a row's end. Rows padded to this reach into no
// other slice's rows, which a neighbouring thread may be writing at the same moment.
constexpr int kRowAlignment = 64;

AVPixelFormat pixelFormat(SlicedI420Converter::Layout layout)
{
    // The fourth byte of a captured pixel is padding, not alpha.
    return layout == SlicedI420Converter::Layout::kBgra ? AV_PIX_FMT_BGR0 : AV_PIX_FMT_YUV420P;
}

int aligned(int bytes)
{
    return (bytes + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
}

// The frame API hands the slices to the threads, and takes only reference-counted frames: the
// planes are wrapped in a reference that frees nothing. The frame never writes to a source.
template <typename Byte>
bool wrap(AVPixelFormat format, int width, int height, const std::array<Byte*, 3>& planes,
          const std::array<int, 3>& strides, AVFrame& frame)
{
    frame.format = format;
    frame.width = width;
    frame.height = height;
    const int planeCount = format == AV_PIX_FMT_BGR0 ? 1 : 3;
    for (int i = 0; i < planeCount; ++i) {
        frame.data[i] = const_cast<uint8_t*>(planes[i]);
        frame.linesize[i] = strides[i];
    }
    frame.buf[0] = av_buffer_create(frame.data[0], 0, [](void*, uint8_t*) {}, nullptr, 0);
    return frame.buf[0] != nullptr;
}

} // namespace

SlicedI420Converter::SlicedI420Converter(int threads)
    : threads_(std::max(threads, 1)), source_(av_frame_alloc()), target_(av_frame_alloc()), buffer_(nullptr, av_free)
{
}

SlicedI420Converter::~SlicedI420Converter()
{
    sws_freeContext(scaler_);
    av_frame_free(&source_);
    av_frame_free(&target_);
}

int SlicedI420Converter::defaultThreads()
{
#if defined(__SANITIZE_THREAD__)
    // ThreadSanitizer can't see how libswscale's slice threads hand rows to each other, and weighing
    // every row it suspects makes one frame take seconds: one thread when it watches.
    return 1;
#else
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()) / 2, 1, kMaxDefaultThreads);
#endif
}

bool SlicedI420Converter::prepare(const Shape& shape)
{
    if (scaler_ && shape == shape_) {
        // A conversion through libyuv in between may have sized the picture for another shape.
        return prepareTarget(shape.targetWidth, shape.targetHeight);
    }
    sws_freeContext(scaler_);
    scaler_ = sws_alloc_context();
    if (!scaler_) {
        return false;
    }
    const bool set = av_opt_set_int(scaler_, "srcw", shape.width, 0) >= 0
        && av_opt_set_int(scaler_, "srch", shape.height, 0) >= 0
        && av_opt_set_int(scaler_, "src_format", pixelFormat(shape.layout), 0) >= 0
        && av_opt_set_int(scaler_, "dstw", shape.targetWidth, 0) >= 0
        && av_opt_set_int(scaler_, "dsth", shape.targetHeight, 0) >= 0
        && av_opt_set_int(scaler_, "dst_format", AV_PIX_FMT_YUV420P, 0) >= 0
        && av_opt_set_int(scaler_, "sws_flags", SWS_BILINEAR, 0) >= 0
        && av_opt_set_int(scaler_, "threads", threads_, 0) >= 0;
    if (!set || sws_init_context(scaler_, nullptr, nullptr) < 0
        || !prepareTarget(shape.targetWidth, shape.targetHeight)) {
        sws_freeContext(scaler_);
        scaler_ = nullptr;
        return false;
    }
    shape_ = shape;
    return true;
}

bool SlicedI420Converter::prepareTarget(int width, int height)
{
    const int chromaHeight = (height + 1) / 2;
    const std::array<int, 3> strides{aligned(width), aligned((width + 1) / 2), aligned((width + 1) / 2)};
    const std::array<size_t, 3> sizes{
        static_cast<size_t>(strides[0]) * static_cast<size_t>(height) + kRowAlignment,
        static_cast<size_t>(strides[1]) * static_cast<size_t>(chromaHeight) + kRowAlignment,
        static_cast<size_t>(strides[2]) * static_cast<size_t>(chromaHeight) + kRowAlignment,
    };
    const size_t total = sizes[0] + sizes[1] + sizes[2];
    if (total > bufferSize_) {
        buffer_.reset(static_cast<uint8_t*>(av_malloc(total)));
        bufferSize_ = buffer_ ? total : 0;
        if (!buffer_) {
            return false;
        }
    }
    picture_ = {width, height, {buffer_.get(), buffer_.get() + sizes[0], buffer_.get() + sizes[0] + sizes[1]}, strides};
    return true;
}

const SlicedI420Converter::I420* SlicedI420Converter::convert(const Source& source, int width, int height)
{
    const auto keeps = [](int from, int to) { return to > 0 && to <= from && from - to <= 1; };
    if (source.layout == Layout::kBgra && keeps(source.width, width) && keeps(source.height, height))
        return convertBgraAtItsSize(source, width, height);
    if (!prepare({source.layout, source.width, source.height, width, height})) {
        PLOG("cannot convert a %d x %d picture to %d x %d", source.width, source.height, width, height);
        return nullptr;
    }
    const bool wrapped = wrap(pixelFormat(source.layout), source.width, source.height, source.planes, source.strides,
                              *source_)
        && wrap(AV_PIX_FMT_YUV420P, width, height, picture_.planes, picture_.strides, *target_);
    const int scaled = wrapped ? sws_scale_frame(scaler_, target_, source_) : AVERROR(ENOMEM);
    av_frame_unref(source_);
    av_frame_unref(target_);
    if (scaled < 0) {
        PLOG("conversion of a %d x %d picture failed (%d)", source.width, source.height, scaled);
        return nullptr;
    }
    return &picture_;
}

// libyuv's "ARGB" is BGRA in memory, and its matrix is BT.601 at limited range, as the scaler's.
const SlicedI420Converter::I420* SlicedI420Converter::convertBgraAtItsSize(const Source& source, int width, int height)
{
    if (!prepareTarget(width, height)) {
        PLOG("cannot convert a %d x %d picture: no memory for its I420 copy", source.width, source.height);
        return nullptr;
    }
    if (libyuv::ARGBToI420(source.planes[0], source.strides[0], picture_.planes[0], picture_.strides[0],
                           picture_.planes[1], picture_.strides[1], picture_.planes[2], picture_.strides[2], width,
                           height)
        != 0) {
        PLOG("conversion of a %d x %d picture failed", source.width, source.height);
        return nullptr;
    }
    return &picture_;
}

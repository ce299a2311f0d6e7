#include "Media/BgraPictureConverter.h"

#include "Utils/Log.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <vector>

namespace {

constexpr int kRowAlignment = 64;

} // namespace

BgraPictureConverter::~BgraPictureConverter()
{
    sws_freeContext(scaler_);
}

std::shared_ptr<const BgraFrame> BgraPictureConverter::convert(const AVFrame& picture)
{
    const auto format = static_cast<AVPixelFormat>(picture.format);
    // Same size in and out: the window scales once, when it draws.
    scaler_ = sws_getCachedContext(scaler_, picture.width, picture.height, format, picture.width, picture.height,
                                   AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (scaler_ == nullptr) {
        PLOG("Display: no conversion of a %d x %d picture in format %d", picture.width, picture.height,
             picture.format);
        return nullptr;
    }
    // The scaler writes rows in blocks of 16 pixels, past a row's end when its width is not a
    // multiple of them: rows are padded to whole blocks, and the last one gets room for a block more.
    const int stride = (picture.width * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    auto bytes = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(stride) * picture.height + kRowAlignment);
    auto frame = std::make_shared<BgraFrame>();
    if (!frame->show(picture.width, picture.height, stride, *bytes, bytes))
        return nullptr;
    uint8_t* const planes[4] = {frame->bytes().data(), nullptr, nullptr, nullptr};
    const int strides[4] = {frame->stride, 0, 0, 0};
    const int rows = sws_scale(scaler_, picture.data, picture.linesize, 0, picture.height, planes, strides);
    if (rows != picture.height) {
        PLOG("Display: converting a %d x %d picture gave %d rows", picture.width, picture.height, rows);
        return nullptr;
    }
    return frame;
}

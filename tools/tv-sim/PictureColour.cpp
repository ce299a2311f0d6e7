#include "tv-sim/PictureColour.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cmath>

namespace {

uint32_t channel(double value)
{
    return static_cast<uint32_t>(std::clamp(std::lround(value), 0L, 255L));
}

} // namespace

std::optional<uint32_t> PictureColour::rgbAt(const AVFrame& picture, int x, int y)
{
    const bool planar420 = picture.format == AV_PIX_FMT_YUV420P || picture.format == AV_PIX_FMT_YUVJ420P;
    if (!planar420 || x < 0 || y < 0 || x >= picture.width || y >= picture.height)
        return std::nullopt;
    const double luma = picture.data[0][y * picture.linesize[0] + x] - 16.0;
    const double cb = picture.data[1][(y / 2) * picture.linesize[1] + x / 2] - 128.0;
    const double cr = picture.data[2][(y / 2) * picture.linesize[2] + x / 2] - 128.0;
    const uint32_t r = channel(1.164 * luma + 1.596 * cr);
    const uint32_t g = channel(1.164 * luma - 0.392 * cb - 0.813 * cr);
    const uint32_t b = channel(1.164 * luma + 2.017 * cb);
    return r << 16 | g << 8 | b;
}

#include "tv-sim/GlassStamp.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

namespace {

uint32_t check(uint32_t value)
{
    return (value * 0x9E3779B1u) >> 24;
}

// The mean luma of the middle of cell `index`, on the picture's first cell row.
int cellLuma(const AVFrame& picture, int index)
{
    constexpr int kInset = GlassStamp::kCell / 4;
    int sum = 0;
    for (int y = kInset; y < GlassStamp::kCell - kInset; ++y) {
        const uint8_t* row = picture.data[0] + static_cast<ptrdiff_t>(y) * picture.linesize[0];
        for (int x = index * GlassStamp::kCell + kInset; x < (index + 1) * GlassStamp::kCell - kInset; ++x)
            sum += row[x];
    }
    constexpr int kSamples = (GlassStamp::kCell - 2 * kInset) * (GlassStamp::kCell - 2 * kInset);
    return sum / kSamples;
}

} // namespace

std::array<bool, GlassStamp::kCells> GlassStamp::cells(uint32_t value)
{
    const uint32_t bits = ((value & kLargest) << 8) | check(value & kLargest);
    std::array<bool, kCells> white{};
    white[0] = true;
    white[1] = false;
    for (int i = 0; i < 32; ++i)
        white[static_cast<size_t>(2 + i)] = (bits >> (31 - i)) & 1u;
    return white;
}

std::optional<uint32_t> GlassStamp::read(const AVFrame& picture)
{
    const auto format = static_cast<AVPixelFormat>(picture.format);
    if ((format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P) || picture.width < kWidth
        || picture.height < kHeight)
        return std::nullopt;
    // Between limited-range black (16) and white (235).
    constexpr int kMiddle = 126;
    if (cellLuma(picture, 0) < kMiddle || cellLuma(picture, 1) >= kMiddle)
        return std::nullopt;
    uint32_t bits = 0;
    for (int i = 0; i < 32; ++i)
        bits = (bits << 1) | (cellLuma(picture, 2 + i) >= kMiddle ? 1u : 0u);
    const uint32_t value = bits >> 8;
    if ((bits & 0xFF) != check(value))
        return std::nullopt;
    return value;
}

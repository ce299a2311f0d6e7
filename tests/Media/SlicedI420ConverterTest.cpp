#include "Media/EncoderH264/SlicedI420Converter.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <vector>

namespace {

using Layout = SlicedI420Converter::Layout;
using Planes = std::array<std::vector<uint8_t>, 3>;

// Noise, so that every slice edge has something to get wrong.
std::vector<uint8_t> noise(size_t size)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = 12345;
    for (uint8_t& byte : bytes) {
        state = state * 1103515245 + 12345;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// Packed planes of an I420 picture, rows without their padding.
Planes packed(const SlicedI420Converter::I420& picture)
{
    Planes planes;
    for (int i = 0; i < 3; ++i) {
        const int width = i == 0 ? picture.width : (picture.width + 1) / 2;
        const int height = i == 0 ? picture.height : (picture.height + 1) / 2;
        for (int y = 0; y < height; ++y) {
            const uint8_t* row = picture.planes[i] + static_cast<size_t>(y) * picture.strides[i];
            planes[i].insert(planes[i].end(), row, row + width);
        }
    }
    return planes;
}

// What one thread gives for the whole picture, into packed planes.
Planes wholeFrame(const std::vector<uint8_t>& bgra, int width, int height, int targetWidth, int targetHeight)
{
    const int chromaWidth = (targetWidth + 1) / 2;
    const size_t chromaSize = static_cast<size_t>(chromaWidth) * static_cast<size_t>((targetHeight + 1) / 2);
    Planes planes{std::vector<uint8_t>(static_cast<size_t>(targetWidth) * static_cast<size_t>(targetHeight)),
                  std::vector<uint8_t>(chromaSize), std::vector<uint8_t>(chromaSize)};
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGR0, targetWidth, targetHeight,
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* source[4] = {bgra.data()};
    const int sourceStrides[4] = {width * 4};
    uint8_t* target[4] = {planes[0].data(), planes[1].data(), planes[2].data()};
    const int targetStrides[4] = {targetWidth, chromaWidth, chromaWidth};
    sws_scale(scaler, source, sourceStrides, 0, height, target, targetStrides);
    sws_freeContext(scaler);
    return planes;
}

} // namespace

TEST(SlicedI420Converter, SlicesOnSeveralThreadsGiveTheWholeFrameConversion)
{
    struct Case {
        int width, height, targetWidth, targetHeight;
    };
    SlicedI420Converter converter(4);
    // Even and odd sizes, a width whose rows end inside the scaler's blocks, and scaled down; each
    // twice, so that a kept scaler serves again.
    for (const Case& shape :
         {Case{640, 360, 640, 360}, Case{334, 200, 334, 200}, Case{333, 199, 333, 199}, Case{1280, 720, 640, 360}}) {
        const std::vector<uint8_t> bgra = noise(static_cast<size_t>(shape.width) * shape.height * 4);
        const Planes expected = wholeFrame(bgra, shape.width, shape.height, shape.targetWidth, shape.targetHeight);
        for (int pass = 0; pass < 2; ++pass) {
            const SlicedI420Converter::Source source{
                Layout::kBgra, shape.width, shape.height, {bgra.data()}, {shape.width * 4}};
            const SlicedI420Converter::I420* sliced = converter.convert(source, shape.targetWidth, shape.targetHeight);
            ASSERT_NE(sliced, nullptr);
            const Planes got = packed(*sliced);
            for (int plane = 0; plane < 3; ++plane)
                EXPECT_TRUE(got[plane] == expected[plane])
                    << shape.width << "x" << shape.height << " plane " << plane << " pass " << pass;
        }
    }

    // I420 of the target's size comes through unchanged; a size the scaler refuses gives nothing.
    const Planes yuv{noise(64 * 48), noise(32 * 24), noise(32 * 24)};
    const SlicedI420Converter::Source source{
        Layout::kI420, 64, 48, {yuv[0].data(), yuv[1].data(), yuv[2].data()}, {64, 32, 32}};
    const SlicedI420Converter::I420* copy = converter.convert(source, 64, 48);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(packed(*copy) == yuv);
    EXPECT_EQ(converter.convert(source, 0, 48), nullptr);
}

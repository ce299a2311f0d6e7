#include "Media/EncoderH264/SlicedI420Converter.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cstdlib>
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
Planes wholeFrame(const std::vector<uint8_t>& bgra, int width, int height, int targetWidth, int targetHeight,
                  int stride = 0)
{
    const int chromaWidth = (targetWidth + 1) / 2;
    const size_t chromaSize = static_cast<size_t>(chromaWidth) * static_cast<size_t>((targetHeight + 1) / 2);
    Planes planes{std::vector<uint8_t>(static_cast<size_t>(targetWidth) * static_cast<size_t>(targetHeight)),
                  std::vector<uint8_t>(chromaSize), std::vector<uint8_t>(chromaSize)};
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_BGR0, targetWidth, targetHeight,
                                        AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* source[4] = {bgra.data()};
    const int sourceStrides[4] = {stride != 0 ? stride : width * 4};
    uint8_t* target[4] = {planes[0].data(), planes[1].data(), planes[2].data()};
    const int targetStrides[4] = {targetWidth, chromaWidth, chromaWidth};
    sws_scale(scaler, source, sourceStrides, 0, height, target, targetStrides);
    sws_freeContext(scaler);
    return planes;
}

} // namespace

// Largest difference between two planes of one size.
int largestDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    int largest = 0;
    for (size_t i = 0; i < a.size(); ++i)
        largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

TEST(SlicedI420Converter, SlicesOnSeveralThreadsGiveTheWholeFrameConversion)
{
    struct Case {
        int width, height, targetWidth, targetHeight;
    };
    SlicedI420Converter converter(4);
    // Scaled sizes, each twice so that a kept scaler serves again, with a picture kept at its size in
    // between, which must not leave the scaler's picture at its own size.
    for (const Case& shape : {Case{1280, 720, 640, 360}, Case{640, 360, 640, 360}, Case{1280, 720, 640, 360},
                              Case{333, 199, 334, 200}}) {
        const std::vector<uint8_t> bgra = noise(static_cast<size_t>(shape.width) * shape.height * 4);
        const Planes expected = wholeFrame(bgra, shape.width, shape.height, shape.targetWidth, shape.targetHeight);
        for (int pass = 0; pass < 2; ++pass) {
            const SlicedI420Converter::Source source{
                Layout::kBgra, shape.width, shape.height, {bgra.data()}, {shape.width * 4}};
            const SlicedI420Converter::I420* sliced = converter.convert(source, shape.targetWidth, shape.targetHeight);
            ASSERT_NE(sliced, nullptr);
            const Planes got = packed(*sliced);
            if (shape.width != shape.targetWidth) {
                for (int plane = 0; plane < 3; ++plane)
                    EXPECT_TRUE(got[plane] == expected[plane])
                        << shape.width << "x" << shape.height << " plane " << plane << " pass " << pass;
            }
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

TEST(SlicedI420Converter, APictureKeptAtItsSizeHasTheScalersColours)
{
    SlicedI420Converter converter(4);
    // Even and odd sizes, and the odd last row and column dropped. Brightness matches the scaler's on
    // noise; chroma, which the two filter differently at edges, is the scaler's on a flat colour (whose
    // last odd column the scaler itself gets wrong, so its first pixel is the reference).
    for (const auto& [width, height, targetWidth, targetHeight] :
         {std::array{640, 360, 640, 360}, std::array{333, 199, 333, 199}, std::array{333, 199, 332, 198}}) {
        const std::vector<uint8_t> bgra = noise(static_cast<size_t>(width) * height * 4);
        const std::vector<uint8_t> flat = [&] {
            std::vector<uint8_t> pixels(bgra.size());
            for (size_t i = 0; i < pixels.size(); i += 4)
                std::copy_n(std::array<uint8_t, 4>{30, 140, 220, 0}.begin(), 4, pixels.begin() + static_cast<long>(i));
            return pixels;
        }();
        for (const std::vector<uint8_t>* picture : {&bgra, &flat}) {
            const Planes expected = wholeFrame(*picture, targetWidth, targetHeight, targetWidth, targetHeight, width * 4);
            const SlicedI420Converter::Source source{Layout::kBgra, width, height, {picture->data()}, {width * 4}};
            const SlicedI420Converter::I420* got = converter.convert(source, targetWidth, targetHeight);
            ASSERT_NE(got, nullptr);
            const Planes planes = packed(*got);
            EXPECT_LE(largestDifference(planes[0], expected[0]), 1) << width << "x" << height;
            for (int plane = 1; plane < (picture == &flat ? 3 : 1); ++plane)
                EXPECT_LE(largestDifference(planes[plane], std::vector<uint8_t>(planes[plane].size(), expected[plane][0])), 1)
                    << width << "x" << height << " plane " << plane;
        }
    }
}

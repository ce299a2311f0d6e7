#include "Media/BgraPictureConverter.h"

extern "C" {
#include <libavutil/frame.h>
}

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace {

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// A grey picture as the decoder gives it: 4:2:0, video range, luma rising left to right from 16
// (black) to 235 (white), colourless chroma.
FramePtr greyRamp(int width, int height)
{
    FramePtr frame(av_frame_alloc());
    frame->width = width;
    frame->height = height;
    frame->format = AV_PIX_FMT_YUV420P;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame->data[0][y * frame->linesize[0] + x] = static_cast<uint8_t>(16 + 219 * x / std::max(1, width - 1));
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < (height + 1) / 2; ++y)
            for (int x = 0; x < (width + 1) / 2; ++x)
                frame->data[plane][y * frame->linesize[plane] + x] = 128;
    return frame;
}

} // namespace

// The scaler writes whole blocks of pixels; pictures whose rows do not fill its blocks must still
// leave every byte past the frame alone (a release build's allocator notices when they do not).
TEST(BgraPictureConverterTest, PicturesOfAnySizeBecomeOpaqueGreysOfTheirOwnSize)
{
    BgraPictureConverter converter;
    for (const auto& [width, height] : {std::pair{200, 120}, std::pair{17, 9}, std::pair{1, 1}, std::pair{321, 241},
                                        std::pair{1920, 1080}, std::pair{200, 120}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        const auto picture = greyRamp(width, height);
        ASSERT_TRUE(picture);
        for (int round = 0; round < 20; ++round) {
            const auto frame = converter.convert(*picture);
            ASSERT_TRUE(frame);
            ASSERT_EQ(frame->width, width);
            ASSERT_EQ(frame->height, height);
            ASSERT_GE(frame->stride, width * 4);
            for (const int y : {0, height - 1}) {
                const uint8_t* left = frame->pixel(0, y);
                const uint8_t* right = frame->pixel(width - 1, y);
                EXPECT_LE(left[0], 2);
                EXPECT_EQ(left[0], left[1]);
                EXPECT_EQ(left[1], left[2]);
                EXPECT_EQ(left[3], 0xFF);
                if (width > 1) {
                    EXPECT_GE(right[0], 253);
                    EXPECT_EQ(right[3], 0xFF);
                }
            }
        }
    }
}

TEST(BgraPictureConverterTest, APictureTheScalerCannotTakeGivesNothing)
{
    BgraPictureConverter converter;
    FramePtr picture(av_frame_alloc());
    picture->width = 0;
    picture->height = 0;
    picture->format = AV_PIX_FMT_YUV420P;
    EXPECT_EQ(converter.convert(*picture), nullptr);
}

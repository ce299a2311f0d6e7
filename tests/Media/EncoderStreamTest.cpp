// The encoder's output checked by an independent decoder: ffprobe and ffmpeg.
#include "Media/EncoderH264/TzVideoEncoder.h"

#include "Media/EncoderTestSupport.h"

#include <gtest/gtest.h>

using Format = TzVideoEncoder::Frame::Format;

TEST(EncoderStream, SixSecondsAt720pReadAsConstrainedBaselineWithRegularKeyFrames)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(1280, 720, 10, 88'473'600), 0);
    MovingPattern pattern(Format::I420, 1280, 720);
    for (int i = 0; i < 60; ++i)
        encoder.encodeWithSampleBuffer(pattern.draw(i), 0, sink.block());
    encoder.stopEncodeSession();

    TempDir dir;
    const auto path = writeStream(dir, concatenated(sink.units()));
    const auto report = probeH264(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    const auto& stream = report["streams"][0];
    EXPECT_EQ(stream.value("profile", ""), "Constrained Baseline");
    EXPECT_EQ(stream.value("width", 0), 1280);
    EXPECT_EQ(stream.value("height", 0), 720);
    EXPECT_EQ(stream.value("has_b_frames", -1), 0);
    EXPECT_EQ(stream.value("r_frame_rate", ""), "10/1");

    const auto& frames = report["frames"];
    ASSERT_EQ(frames.size(), 60u);
    std::vector<size_t> keyFrames;
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NE(frames[i].value("pict_type", ""), "B");
        if (frames[i].value("key_frame", 0) == 1)
            keyFrames.push_back(i);
    }
    EXPECT_EQ(keyFrames, (std::vector<size_t>{0, 20, 40}));
    EXPECT_TRUE(decodesCleanly(path));
}

TEST(EncoderStream, FramesOfOtherSizesAreScaledToTheSession)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(1280, 720, 10, 5'000'000), 0);
    // What the X11 capture hands over, at a window's size; a larger I420 frame; an odd size.
    std::vector<MovingPattern> patterns{{Format::BGRA, 1000, 600}, {Format::I420, 1920, 1080},
                                        {Format::I420, 333, 201}, {Format::BGRA, 1280, 720}};
    for (int i = 0; i < 6; ++i)
        for (auto& pattern : patterns)
            encoder.encodeWithSampleBuffer(pattern.draw(i), 0, sink.block());

    TempDir dir;
    const auto path = writeStream(dir, concatenated(sink.units()));
    const auto report = probeH264(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0].value("width", 0), 1280);
    EXPECT_EQ(report["streams"][0].value("height", 0), 720);
    EXPECT_EQ(report["frames"].size(), 24u);
    EXPECT_TRUE(decodesCleanly(path));
}

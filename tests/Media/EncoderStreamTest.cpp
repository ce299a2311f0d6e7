// The encoder's output checked by an independent decoder: ffprobe and ffmpeg.
#include "Media/EncoderH264/TzVideoEncoder.h"

#include "Media/EncoderTestSupport.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>

namespace {

using Format = TzVideoEncoder::Frame::Format;

std::string writeStream(const TempDir& dir, const std::vector<uint8_t>& stream)
{
    const auto path = (dir / "cast.h264").string();
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    return path;
}

nlohmann::json probe(const std::string& path)
{
    const auto outcome = Shell::run({"ffprobe", "-v", "error", "-f", "h264", "-show_streams", "-show_frames", "-of",
                                     "json", path});
    if (!outcome || outcome->exitCode != 0)
        return nullptr;
    return nlohmann::json::parse(outcome->output, nullptr, false);
}

// ffmpeg decodes the whole stream and stops at the first error.
bool decodesCleanly(const std::string& path)
{
    const auto outcome = Shell::run({"ffmpeg", "-v", "error", "-xerror", "-f", "h264", "-i", path, "-f", "null", "-"});
    return outcome && outcome->exitCode == 0;
}

// The decoded pictures of the probe, in stream order, and the index of each key frame.
std::vector<size_t> keyFrameIndices(const nlohmann::json& frames)
{
    std::vector<size_t> indices;
    for (size_t i = 0; i < frames.size(); ++i)
        if (frames[i].value("key_frame", 0) == 1)
            indices.push_back(i);
    return indices;
}

} // namespace

TEST(EncoderStream, SixSecondsAt720pReadAsConstrainedBaselineWithRegularKeyFrames)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(1280, 720, 10, 88'473'600), 0);
    MovingPattern pattern(Format::I420, 1280, 720);
    for (int i = 0; i < 60; ++i)
        encoder.encodeWithSampleBuffer(pattern.draw(i), 0, sink.block());
    encoder.stopEncodeSession();
    ASSERT_EQ(sink.units().size(), 60u);

    TempDir dir;
    const auto path = writeStream(dir, sink.stream());
    const auto report = probe(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    const auto& stream = report["streams"][0];
    EXPECT_EQ(stream.value("codec_name", ""), "h264");
    EXPECT_EQ(stream.value("profile", ""), "Constrained Baseline");
    EXPECT_EQ(stream.value("width", 0), 1280);
    EXPECT_EQ(stream.value("height", 0), 720);
    EXPECT_EQ(stream.value("has_b_frames", -1), 0);
    EXPECT_EQ(stream.value("r_frame_rate", ""), "10/1");

    const auto& frames = report["frames"];
    ASSERT_EQ(frames.size(), 60u);
    for (const auto& frame : frames)
        EXPECT_NE(frame.value("pict_type", ""), "B");
    EXPECT_EQ(keyFrameIndices(frames), (std::vector<size_t>{0, 20, 40}));
    EXPECT_TRUE(decodesCleanly(path));
}

TEST(EncoderStream, FramesOfOtherSizesAreScaledToTheSession)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(1280, 720, 10, 5'000'000), 0);
    // What the X11 capture hands over, at a window's size; a larger I420 frame; an odd size.
    MovingPattern window(Format::BGRA, 1000, 600);
    MovingPattern larger(Format::I420, 1920, 1080);
    MovingPattern odd(Format::I420, 333, 201);
    MovingPattern exact(Format::BGRA, 1280, 720);
    for (int i = 0; i < 6; ++i) {
        encoder.encodeWithSampleBuffer(window.draw(i), 0, sink.block());
        encoder.encodeWithSampleBuffer(larger.draw(i), 0, sink.block());
        encoder.encodeWithSampleBuffer(odd.draw(i), 0, sink.block());
        encoder.encodeWithSampleBuffer(exact.draw(i), 0, sink.block());
    }
    ASSERT_EQ(sink.units().size(), 24u);

    TempDir dir;
    const auto path = writeStream(dir, sink.stream());
    const auto report = probe(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0].value("width", 0), 1280);
    EXPECT_EQ(report["streams"][0].value("height", 0), 720);
    EXPECT_EQ(report["frames"].size(), 24u);
    EXPECT_TRUE(decodesCleanly(path));
}

#include "Media/EncoderH264/TzVideoEncoder.h"

#include "Media/CastLinkFakes.h"
#include "Media/EncoderTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <thread>

namespace {

constexpr int kNalSlice = 1;
constexpr int kNalIdr = 5;
constexpr int kNalSps = 7;
constexpr int kNalPps = 8;

using Format = TzVideoEncoder::Frame::Format;

class TzVideoEncoderTest : public ::testing::Test {
protected:
    void encodeFrames(int count)
    {
        for (int i = 0; i < count; ++i)
            encoder.encodeWithSampleBuffer(pattern.draw(drawn++), 0, sink.block());
    }

    // The access unit begins with the session's SPS and PPS, then a slice of sliceType.
    void expectParameterSetsInFront(const std::vector<uint8_t>& accessUnit, int sliceType)
    {
        const auto nalUnits = splitAnnexB(accessUnit);
        ASSERT_GE(nalUnits.size(), 3u);
        EXPECT_EQ(nalUnits[0], encoder.sps_tz());
        EXPECT_EQ(nalUnits[1], encoder.pps_tz());
        EXPECT_EQ(nalUnits[2][0] & 0x1F, sliceType);
    }

    const std::shared_ptr<ParameterSetRequestFlag> parameterSetRequest = std::make_shared<ParameterSetRequestFlag>();
    TzVideoEncoder encoder{parameterSetRequest};
    MovingPattern pattern{Format::I420, 320, 240};
    AccessUnitSink sink;
    int drawn = 0;
};

bool startsWithSlice(const std::vector<uint8_t>& accessUnit)
{
    const auto types = nalTypes(accessUnit);
    return !types.empty() && types[0] == kNalSlice;
}

} // namespace

TEST_F(TzVideoEncoderTest, RefusesNonsenseSessionsAndEncodesNothingThen)
{
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 0, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, -5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 1001, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(0, 240, 5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 0, 5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(0.5, 240, 5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(std::nan(""), 240, 5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(1e12, 240, 5, 1'000'000), -1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 0), -1);
    encodeFrames(2);
    EXPECT_TRUE(sink.units().empty());
    EXPECT_TRUE(encoder.sps_tz().empty());

    // A refused start also ends the session that ran before it.
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    encodeFrames(1);
    EXPECT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 0, 1'000'000), -1);
    encodeFrames(1);
    EXPECT_EQ(sink.units().size(), 1u);
}

TEST_F(TzVideoEncoderTest, PlacesParameterSetsAroundKeyFramesAndOnRequest)
{
    // 5 fps: a key frame opens every group of 10 frames.
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    encodeFrames(5);
    parameterSetRequest->raise();
    encodeFrames(1);  // frame 5 serves the request
    EXPECT_FALSE(parameterSetRequest->pending());
    parameterSetRequest->raise();
    parameterSetRequest->raise();
    encodeFrames(15);  // two requests before frame 6 give one repetition

    const auto units = sink.units();
    ASSERT_EQ(units.size(), 21u);
    for (int i = 0; i < 21; ++i) {
        SCOPED_TRACE(i);
        if (i % 10 == 0)
            expectParameterSetsInFront(units[i], kNalIdr);
        else if (i % 10 == 1 || i == 5 || i == 6)
            expectParameterSetsInFront(units[i], kNalSlice);
        else
            EXPECT_TRUE(startsWithSlice(units[i]));
        for (const int type : nalTypes(units[i]))
            EXPECT_TRUE(type == kNalSps || type == kNalPps || type == (i % 10 == 0 ? kNalIdr : kNalSlice)) << type;
    }
    EXPECT_TRUE(encoder.lastKeyFrame());

    // The frame after the key frame carries the repetition and clears it.
    encodeFrames(1);
    expectParameterSetsInFront(sink.units().back(), kNalSlice);
    EXPECT_FALSE(encoder.lastKeyFrame());
}

// Two casts at once: each encoder serves only the request it was given.
TEST_F(TzVideoEncoderTest, ServesOnlyItsOwnRequest)
{
    TzVideoEncoder other{std::make_shared<ParameterSetRequestFlag>()};
    AccessUnitSink otherSink;
    ASSERT_EQ(other.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    for (int i = 0; i < 3; ++i)
        other.encodeWithSampleBuffer(pattern.draw(i), 0, otherSink.block());
    encodeFrames(3);

    parameterSetRequest->raise();
    other.encodeWithSampleBuffer(pattern.draw(3), 0, otherSink.block());
    EXPECT_TRUE(startsWithSlice(otherSink.units().back()));
    EXPECT_TRUE(parameterSetRequest->pending());
    encodeFrames(1);
    expectParameterSetsInFront(sink.units().back(), kNalSlice);
    EXPECT_FALSE(parameterSetRequest->pending());
}

TEST_F(TzVideoEncoderTest, EachSessionBringsItsOwnParameterSets)
{
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    encodeFrames(2);
    const auto smallSps = encoder.sps_tz();
    ASSERT_FALSE(smallSps.empty());

    // A restart without a stop, at another size: the new session's SPS leads its first frame.
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(640, 480, 5, 1'000'000), 0);
    EXPECT_NE(encoder.sps_tz(), smallSps);
    encodeFrames(1);
    expectParameterSetsInFront(sink.units().back(), kNalIdr);

    encoder.stopEncodeSession();
    EXPECT_TRUE(encoder.sps_tz().empty());
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    encodeFrames(1);
    expectParameterSetsInFront(sink.units().back(), kNalIdr);
}

TEST_F(TzVideoEncoderTest, KeepsTheComputedBitRateAndCapsWhatTheEncoderGets)
{
    // What the capture computes for 1920 x 1080.
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(1920, 1080, 30, 199'065'600), 0);
    EXPECT_EQ(encoder.bitRate(), 199'065'600);
    EXPECT_EQ(encoder.encoderBitRate(), TzVideoEncoder::kMaxEncoderBitRate);
    MovingPattern large(Format::I420, 1920, 1080);
    encoder.encodeWithSampleBuffer(large.draw(0), 0, sink.block());
    encoder.encodeWithSampleBuffer(large.draw(1), 0, sink.block());
    EXPECT_EQ(sink.units().size(), 2u);

    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    EXPECT_EQ(encoder.encoderBitRate(), 1'000'000);
}

TEST_F(TzVideoEncoderTest, RefusesFramesWhosePlanesAreTooSmall)
{
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    MovingPattern bgra(Format::BGRA, 64, 48);
    auto shortPlane = bgra.draw(0);
    shortPlane.planes[0] = shortPlane.planes[0].first(shortPlane.planes[0].size() - 1);
    encoder.encodeWithSampleBuffer(shortPlane, 0, sink.block());
    auto narrowStride = pattern.draw(0);
    narrowStride.strides[0] = narrowStride.width - 2;
    encoder.encodeWithSampleBuffer(narrowStride, 0, sink.block());
    auto missingChroma = pattern.draw(0);
    missingChroma.planes[2] = {};
    encoder.encodeWithSampleBuffer(missingChroma, 0, sink.block());
    auto empty = pattern.draw(0);
    empty.width = 0;
    encoder.encodeWithSampleBuffer(empty, 0, sink.block());
    EXPECT_TRUE(sink.units().empty());

    // Refused frames do not count: the next good one still opens the stream with a key frame.
    encodeFrames(1);
    ASSERT_EQ(sink.units().size(), 1u);
    expectParameterSetsInFront(sink.units()[0], kNalIdr);
}

TEST_F(TzVideoEncoderTest, DeliversNothingOnceStopped)
{
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    std::atomic<bool> stopped{false};
    std::atomic<int> delivered{0};
    std::atomic<int> late{0};
    std::mutex mutex;
    std::condition_variable someDelivered;
    const TzVideoEncoder::CompletionBlock block = [&](std::span<const uint8_t>) {
        if (stopped)
            ++late;
        std::lock_guard guard(mutex);
        ++delivered;
        someDelivered.notify_all();
    };

    std::thread feeder([&] {
        MovingPattern own(Format::I420, 320, 240);
        for (int i = 0; i < 40; ++i)
            encoder.encodeWithSampleBuffer(own.draw(i), 0, block);
    });
    {
        std::unique_lock guard(mutex);
        someDelivered.wait(guard, [&] { return delivered >= 3; });
    }
    encoder.stopEncodeSession();
    stopped = true;
    feeder.join();
    EXPECT_EQ(late, 0);
    EXPECT_LT(delivered, 40);
}

TEST_F(TzVideoEncoderTest, SerialisesFramesFromConcurrentCallers)
{
    ASSERT_EQ(encoder.startEncodeSessionWithVideoSize(320, 240, 5, 1'000'000), 0);
    const auto feed = [this] {
        MovingPattern own(Format::I420, 320, 240);
        for (int i = 0; i < 15; ++i)
            encoder.encodeWithSampleBuffer(own.draw(i), 0, sink.block());
    };
    std::thread first(feed);
    std::thread second(feed);
    first.join();
    second.join();

    // Every frame came out, numbered in the order the encoder took it: key frames stay on schedule.
    const auto units = sink.units();
    ASSERT_EQ(units.size(), 30u);
    for (size_t i = 0; i < units.size(); ++i)
        EXPECT_EQ(nalTypes(units[i]).back() == kNalIdr, i % 10 == 0) << i;
}

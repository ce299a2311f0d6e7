#include "Media/VideoDisplaySink.h"

#include "Media/EncoderTestSupport.h"
#include "Media/H264DecoderTool.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

using Format = TzVideoEncoder::Frame::Format;
using SamplePtr = std::shared_ptr<const CompressedSample>;
using PicturePtr = std::shared_ptr<const BgraFrame>;
constexpr auto kWait = std::chrono::seconds(20);

// A moving pattern encoded by our encoder: the BGRA source of every picture and the packets the TV
// would send, one access unit each.
struct EncodedPattern {
    int width = 0;
    int height = 0;
    std::vector<Bytes> sources;
    std::vector<Bytes> packets;
};

EncodedPattern encodePattern(int width, int height, int frames)
{
    EncodedPattern pattern{width, height, {}, {}};
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    if (encoder.startEncodeSessionWithVideoSize(width, height, 10, 4'000'000) != 0)
        return pattern;
    MovingPattern source(Format::BGRA, width, height);
    for (int i = 0; i < frames; ++i) {
        const auto frame = source.draw(i);
        pattern.sources.emplace_back(frame.planes[0].begin(), frame.planes[0].end());
        encoder.encodeWithSampleBuffer(frame, 0, sink.block());
    }
    encoder.stopEncodeSession();
    pattern.packets = sink.units();
    return pattern;
}

const EncodedPattern& pattern320x240()
{
    static const auto pattern = encodePattern(320, 240, 30);
    return pattern;
}

// The samples the splitter cuts from packets. Each packet is owned by its samples alone once the
// splitter returns, as on the viewing road.
std::vector<SamplePtr> splitPackets(const std::vector<Bytes>& packets)
{
    struct Collector : H264DecoderOutputDelegate {
        void didOutputVideoSampleBuffer(const SamplePtr& sampleBuffer) override { samples.push_back(sampleBuffer); }
        std::vector<SamplePtr> samples;
    } collector;
    H264DecoderTool tool;
    tool.setDelegate(&collector);
    for (const auto& packet : packets)
        tool.readVideoInfo(std::make_shared<const Bytes>(packet));
    return collector.samples;
}

// The samples of each picture in order: a picture's first slice starts at its first macroblock
// (first_mb_in_slice 0, a single 1 bit after the NAL header byte).
std::vector<std::vector<SamplePtr>> byPicture(const std::vector<SamplePtr>& samples)
{
    std::vector<std::vector<SamplePtr>> pictures;
    for (const auto& sample : samples) {
        if (pictures.empty() || (sample->nalUnit()[1] & 0x80) != 0)
            pictures.emplace_back();
        pictures.back().push_back(sample);
    }
    return pictures;
}

// The samples of pictures [first, last).
std::vector<SamplePtr> picturesFrom(const std::vector<std::vector<SamplePtr>>& pictures, size_t first, size_t last)
{
    std::vector<SamplePtr> samples;
    for (size_t i = first; i < last; ++i)
        samples.insert(samples.end(), pictures[i].begin(), pictures[i].end());
    return samples;
}

// Luma PSNR of a BGRA picture against its BGRA source of the same size (BT.601 weights). Luma, as
// video quality is measured: the stream carries colour at a quarter of the pixels, which the sharp
// colour edges of the pattern make cost several dB that no display could win back.
double psnr(const BgraFrame& picture, const Bytes& source)
{
    const auto luma = [](const uint8_t* pixel) { return 0.114 * pixel[0] + 0.587 * pixel[1] + 0.299 * pixel[2]; };
    double squared = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const double difference =
                luma(picture.pixel(x, y)) - luma(&source[(static_cast<size_t>(y) * picture.width + x) * 4]);
            squared += difference * difference;
        }
    }
    const double mean = squared / (double(picture.width) * picture.height);
    return mean == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mean);
}

// Keeps what the sink hands on, from its worker. While held, the handler waits for release().
class PictureRecorder {
public:
    VideoDisplaySink::PictureHandler handler()
    {
        return [this](PicturePtr picture) {
            std::unique_lock lock(mutex_);
            pictures_.push_back(std::move(picture));
            changed_.notify_all();
            changed_.wait(lock, [this] { return !held_; });
        };
    }
    void hold()
    {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        held_ = false;
        changed_.notify_all();
    }
    bool waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kWait, [&] { return pictures_.size() >= count; });
    }
    std::vector<PicturePtr> pictures() const
    {
        std::lock_guard lock(mutex_);
        return pictures_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<PicturePtr> pictures_;
    bool held_ = false;
};

class VideoDisplaySinkTest : public ::testing::Test {
protected:
    void TearDown() override { recorder.release(); }

    // Enqueues every sample; the number accepted.
    static size_t enqueueAll(VideoDisplaySink& sink, const std::vector<SamplePtr>& samples)
    {
        size_t accepted = 0;
        for (const auto& sample : samples)
            accepted += sink.enqueueSampleBuffer(sample);
        return accepted;
    }

    // Until the sink reports Failed; false when the time ran out.
    static bool waitForFailure(const VideoDisplaySink& sink)
    {
        const auto until = std::chrono::steady_clock::now() + kWait;
        while (sink.status() != VideoDisplaySink::Status::Failed) {
            if (std::chrono::steady_clock::now() > until)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    PictureRecorder recorder;
};

} // namespace

TEST_F(VideoDisplaySinkTest, ShowsEveryPictureOfTheStreamAtItsSizeCloseToTheSource)
{
    for (const auto& [width, height] : {std::pair{320, 240}, std::pair{200, 120}}) {
        SCOPED_TRACE(width);
        const auto pattern = width == 320 ? pattern320x240() : encodePattern(width, height, 12);
        ASSERT_FALSE(pattern.packets.empty());
        const auto samples = splitPackets(pattern.packets);
        PictureRecorder shown;
        VideoDisplaySink sink(shown.handler(), samples.size());
        EXPECT_EQ(enqueueAll(sink, samples), samples.size());
        EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);

        ASSERT_TRUE(shown.waitFor(pattern.sources.size()));
        const auto pictures = shown.pictures();
        ASSERT_EQ(pictures.size(), pattern.sources.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            ASSERT_TRUE(pictures[i]);
            EXPECT_EQ(pictures[i]->width, width);
            EXPECT_EQ(pictures[i]->height, height);
            EXPECT_GT(psnr(*pictures[i], pattern.sources[i]), 30.0) << "picture " << i;
            EXPECT_EQ(pictures[i]->pixel(0, 0)[3], 0xFF);
        }
        EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);
        EXPECT_EQ(sink.droppedSamples(), 0u);
    }
}

TEST_F(VideoDisplaySinkTest, SamplesThatCannotStartAPictureAreDroppedWithoutFailing)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    ASSERT_EQ(pictures.size(), 30u);
    ASSERT_GT(pictures[0].size(), 1u) << "the encoder cuts pictures into slices";
    VideoDisplaySink sink(recorder.handler(), 64);
    // No format: the splitter had no parameter sets yet.
    const auto storage = std::make_shared<const Bytes>(Bytes{0, 0, 1, 0x65, 0x88});
    const auto unformatted = std::make_shared<const CompressedSample>(storage, *storage, 3, nullptr, true);
    EXPECT_FALSE(sink.enqueueSampleBuffer(nullptr));
    EXPECT_FALSE(sink.enqueueSampleBuffer(unformatted));
    // Pictures after the key frame, or the key frame's later slices: nothing to decode them from.
    const auto withoutKeyFrame = picturesFrom(pictures, 1, 5);
    EXPECT_EQ(enqueueAll(sink, withoutKeyFrame), 0u);
    EXPECT_FALSE(sink.enqueueSampleBuffer(pictures[0][1]));
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Unknown);
    EXPECT_EQ(sink.droppedSamples(), 3 + withoutKeyFrame.size());

    const auto fromKeyFrame = picturesFrom(pictures, 0, 3);
    EXPECT_EQ(enqueueAll(sink, fromKeyFrame), fromKeyFrame.size());
    ASSERT_TRUE(recorder.waitFor(3));
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);
}

TEST_F(VideoDisplaySinkTest, AStalledWindowMakesTheSinkRefuseWithoutBlockingThenResumeAtTheNextKeyFrame)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    const size_t slices = pictures[0].size();
    VideoDisplaySink sink(recorder.handler(), 1);
    recorder.hold();
    ASSERT_EQ(enqueueAll(sink, pictures[0]), slices);
    // The worker now waits inside the handler with the first picture.
    ASSERT_TRUE(recorder.waitFor(1));

    // Every call returns; one picture (all its slices) finds room, the rest is refused.
    const auto behind = picturesFrom(pictures, 1, 10);
    EXPECT_EQ(enqueueAll(sink, behind), slices);
    EXPECT_EQ(sink.droppedSamples(), behind.size() - slices);

    recorder.release();
    ASSERT_TRUE(recorder.waitFor(2));
    // The rest of this group of pictures refers to what was refused: dropped until a key frame
    // (every 20th picture here).
    EXPECT_EQ(enqueueAll(sink, picturesFrom(pictures, 10, 20)), 0u);
    for (size_t i = 20; i < 23; ++i) {
        EXPECT_EQ(enqueueAll(sink, pictures[i]), slices) << i;
        ASSERT_TRUE(recorder.waitFor(i - 17)) << i;
    }
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);
    EXPECT_GT(psnr(*recorder.pictures().back(), pattern320x240().sources[22]), 30.0);
}

// The window asks before each sample and drops it when the sink is not ready, even in the middle of a
// picture; the picture cut short must not break the pictures after the next key frame.
TEST_F(VideoDisplaySinkTest, ACallerDroppingWhatFindsNoRoomGetsCleanPicturesFromTheNextKeyFrame)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    ASSERT_EQ(pictures[2].size(), 3u);
    // Two pictures, but only four samples: the third picture's second slice finds no room.
    VideoDisplaySink sink(recorder.handler(), 2, 4);
    const auto show = [&](const std::vector<SamplePtr>& samples) {
        for (const auto& sample : samples)
            if (sink.status() != VideoDisplaySink::Status::Failed && sink.isReadyForMoreMediaData())
                sink.enqueueSampleBuffer(sample);
    };
    recorder.hold();
    show(pictures[0]);
    ASSERT_TRUE(recorder.waitFor(1));
    show(picturesFrom(pictures, 1, 10));
    EXPECT_FALSE(sink.isReadyForMoreMediaData());
    recorder.release();
    ASSERT_TRUE(recorder.waitFor(2));
    show(picturesFrom(pictures, 10, 20));
    for (size_t i = 20; i < 23; ++i) {
        show(pictures[i]);
        ASSERT_TRUE(recorder.waitFor(i - 17)) << i;
    }
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);
    EXPECT_EQ(recorder.pictures().size(), 5u);
    EXPECT_GT(psnr(*recorder.pictures()[1], pattern320x240().sources[1]), 30.0);
    EXPECT_GT(psnr(*recorder.pictures().back(), pattern320x240().sources[22]), 30.0);
}

TEST_F(VideoDisplaySinkTest, FlushDropsWhatIsQueuedAndRemovingTheImageComesLast)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    const auto firstTwo = picturesFrom(pictures, 0, 2);
    VideoDisplaySink sink(recorder.handler(), 16);
    recorder.hold();
    ASSERT_EQ(enqueueAll(sink, firstTwo), firstTwo.size());
    ASSERT_TRUE(recorder.waitFor(1));

    sink.flush();
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Unknown);
    EXPECT_TRUE(sink.isReadyForMoreMediaData());
    // The decoder starts over: only a key frame is taken.
    EXPECT_EQ(enqueueAll(sink, pictures[2]), 0u);
    recorder.release();
    ASSERT_EQ(enqueueAll(sink, firstTwo), firstTwo.size());
    ASSERT_TRUE(recorder.waitFor(3));
    // The first picture from before the flush, then the two after it; the second from before never.
    const auto shown = recorder.pictures();
    EXPECT_GT(psnr(*shown[1], pattern320x240().sources[0]), 30.0);
    EXPECT_GT(psnr(*shown[2], pattern320x240().sources[1]), 30.0);

    sink.flushAndRemoveImage();
    ASSERT_TRUE(recorder.waitFor(4));
    EXPECT_EQ(recorder.pictures().back(), nullptr);
    EXPECT_EQ(recorder.pictures().size(), 4u);
}

TEST_F(VideoDisplaySinkTest, ADamagedSampleMakesTheStatusFailedUntilAFlush)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    VideoDisplaySink sink(recorder.handler(), 16);
    ASSERT_EQ(enqueueAll(sink, picturesFrom(pictures, 0, 2)), pictures[0].size() * 2);
    ASSERT_TRUE(recorder.waitFor(2));

    // A slice of the stream's format whose header and data are noise.
    Bytes noise{0, 0, 0, 1, 0x41};
    for (int i = 0; i < 400; ++i)
        noise.push_back(static_cast<uint8_t>((i * 151 + 7) % 253 + 1));
    const auto storage = std::make_shared<const Bytes>(noise);
    const auto damaged =
        std::make_shared<const CompressedSample>(storage, *storage, 4, pictures[0][0]->formatDescription(), true);
    ASSERT_TRUE(sink.enqueueSampleBuffer(damaged));
    ASSERT_TRUE(waitForFailure(sink));
    EXPECT_EQ(recorder.pictures().size(), 2u);
    EXPECT_FALSE(sink.isReadyForMoreMediaData());
    EXPECT_FALSE(sink.enqueueSampleBuffer(pictures[0][0]));

    sink.flush();
    const auto again = picturesFrom(pictures, 0, 3);
    EXPECT_EQ(enqueueAll(sink, again), again.size());
    ASSERT_TRUE(recorder.waitFor(5));
    EXPECT_EQ(sink.status(), VideoDisplaySink::Status::Rendering);
    EXPECT_GT(psnr(*recorder.pictures()[4], pattern320x240().sources[2]), 30.0);
}

namespace {

// A baseline SPS (emulation prevention applied) declaring `mbsWide` x `mbsHigh` macroblocks and
// `references` reference pictures.
Bytes baselineSps(uint32_t mbsWide, uint32_t mbsHigh, uint32_t references)
{
    std::vector<bool> bits;
    const auto put = [&](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back(((value >> i) & 1) != 0);
    };
    const auto ue = [&](uint32_t value) {
        const uint64_t code = uint64_t{value} + 1;
        const int width = std::bit_width(code) - 1;
        put(0, width);
        put(1, 1);
        put(static_cast<uint32_t>(code - (uint64_t{1} << width)), width);
    };
    put(0x67, 8);          // NAL header: SPS
    put(66, 8);            // profile_idc: baseline
    put(0xC01F, 16);       // constraint flags, level 3.1
    ue(0);                 // seq_parameter_set_id
    ue(0);                 // log2_max_frame_num_minus4
    ue(2);                 // pic_order_cnt_type
    ue(references);        // max_num_ref_frames
    put(0, 1);             // gaps_in_frame_num_value_allowed_flag
    ue(mbsWide - 1);
    ue(mbsHigh - 1);
    put(0b110, 3);         // frame_mbs_only, direct_8x8_inference, no cropping
    put(0, 1);             // no VUI
    put(1, 1);             // stop bit
    while (bits.size() % 8 != 0)
        bits.push_back(false);
    Bytes sps;
    int zeros = 0;
    for (size_t i = 0; i < bits.size(); i += 8) {
        uint8_t byte = 0;
        for (size_t j = 0; j < 8; ++j)
            byte = static_cast<uint8_t>(byte << 1 | bits[i + j]);
        if (zeros >= 2 && byte <= 3) {
            sps.push_back(3);
            zeros = 0;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        sps.push_back(byte);
    }
    return sps;
}

} // namespace

TEST_F(VideoDisplaySinkTest, PicturesPastTheBoundsAreRefusedWithTheFailedStatus)
{
    const auto pictures = byPicture(splitPackets(pattern320x240().packets));
    const auto& keyFrame = pictures[0];
    const Bytes pps = keyFrame[0]->formatDescription()->pps();
    struct Case {
        const char* what;
        uint32_t mbsWide, mbsHigh, references;
        bool refused;
    };
    const Case cases[] = {
        {"65,536 pixels wide", 4096, 45, 1, true},
        {"8,192 x 8,192 with 16 references", 512, 512, 16, true},
        {"8,192 x 8,192 with 3 references", 512, 512, 3, false},
        {"3,840 x 2,160 with 16 references", 240, 135, 16, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto format = VideoFormatDescription::create(baselineSps(c.mbsWide, c.mbsHigh, c.references), pps);
        ASSERT_EQ(format->width(), static_cast<int>(c.mbsWide * 16));
        EXPECT_EQ(VideoDisplaySink::refusal(*format).has_value(), c.refused);
    }

    // On the stream: the key frame under the 65,536-wide format leaves the status Failed, no picture.
    VideoDisplaySink sink(recorder.handler(), 16);
    const auto wide = VideoFormatDescription::create(baselineSps(4096, 45, 1), pps);
    for (const auto& slice : keyFrame) {
        const auto storage = std::make_shared<const Bytes>(slice->data().begin(), slice->data().end());
        sink.enqueueSampleBuffer(std::make_shared<const CompressedSample>(storage, *storage, slice->startCodeLength(), wide, true));
    }
    ASSERT_TRUE(waitForFailure(sink));
    EXPECT_EQ(sink.shownPictures(), 0u);
}

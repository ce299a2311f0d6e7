#include "Media/H264DecoderTool.h"

#include "Media/EncoderTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <sstream>

namespace {

using Format = TzVideoEncoder::Frame::Format;

std::shared_ptr<const Bytes> packetOf(Bytes bytes)
{
    return std::make_shared<const Bytes>(std::move(bytes));
}

Bytes bytesOf(std::span<const uint8_t> span)
{
    return {span.begin(), span.end()};
}

class SampleCollector : public H264DecoderOutputDelegate {
public:
    void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) override
    {
        samples.push_back(sampleBuffer);
    }
    std::vector<std::shared_ptr<const CompressedSample>> samples;
};

class H264DecoderToolTest : public ::testing::Test {
protected:
    void SetUp() override { tool.setDelegate(&collector); }
    void feed(Bytes bytes) { tool.readVideoInfo(packetOf(std::move(bytes))); }
    const std::vector<std::shared_ptr<const CompressedSample>>& samples() const { return collector.samples; }

    SampleCollector collector;
    H264DecoderTool tool;
};

const Bytes kSps{0x67, 0x42, 0x00, 0x1E, 0xAB};
const Bytes kOtherSps{0x67, 0x42, 0x00, 0x28, 0xCD};
const Bytes kPps{0x68, 0xCE, 0x38, 0x80};
const Bytes kOtherPps{0x68, 0xCE, 0x3C, 0x80};
const Bytes kIdr{0x65, 0x88, 0x84, 0x21};
const Bytes kSlice{0x41, 0x9A, 0x02, 0x04};
const Bytes kSei{0x06, 0x05, 0x01, 0x80};

// The units, each behind a start code of the width widthOf(index) gives.
Bytes annexB(const std::vector<Bytes>& units, const std::function<size_t(size_t)>& widthOf)
{
    Bytes out;
    for (size_t i = 0; i < units.size(); ++i) {
        out.insert(out.end(), widthOf(i) - 1, 0x00);
        out.push_back(0x01);
        out.insert(out.end(), units[i].begin(), units[i].end());
    }
    return out;
}

Bytes annexB(const std::vector<Bytes>& units, size_t width = 4)
{
    return annexB(units, [width](size_t) { return width; });
}

} // namespace

TEST_F(H264DecoderToolTest, ParameterSetsMakeAFormatAndTheIdrSliceASampleInPlace)
{
    const auto packet = packetOf(annexB({kSps, kPps, kIdr}));
    tool.readVideoInfo(packet);

    EXPECT_EQ(tool.naluHeadLength(), 4);
    const auto format = tool.formatDescription();
    ASSERT_TRUE(format);
    EXPECT_EQ(format->parameterSetsAnnexB(), annexB({kSps, kPps}));
    ASSERT_EQ(samples().size(), 1u);
    const auto& sample = *samples()[0];
    EXPECT_EQ(bytesOf(sample.data()), annexB({kIdr}, 4));
    EXPECT_EQ(bytesOf(sample.nalUnit()), kIdr);
    EXPECT_EQ(sample.startCodeLength(), 4u);
    EXPECT_EQ(sample.nalUnitType(), 5);
    EXPECT_EQ(sample.formatDescription(), format);
    EXPECT_TRUE(sample.displayImmediately());
    // Not copied: the sample lies in the packet.
    EXPECT_EQ(sample.data().data(), packet->data() + packet->size() - sample.data().size());
}

TEST_F(H264DecoderToolTest, EverySliceIsASampleWhateverItsStartCodeAndSeiIsNot)
{
    const std::vector<Bytes> units{kSei, kIdr, kSlice, kIdr, kSlice};
    // Widths 4, 3, 4, 3, 3: mixed inside one packet, the first learned width trusted for none.
    const std::vector<size_t> widths{4, 3, 4, 3, 3};
    feed(annexB(units, [&](size_t i) { return widths[i]; }));

    ASSERT_EQ(samples().size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(bytesOf(samples()[i]->data()), annexB({units[i + 1]}, widths[i + 1])) << i;
        EXPECT_EQ(samples()[i]->startCodeLength(), widths[i + 1]) << i;
        EXPECT_FALSE(samples()[i]->formatDescription()) << "no SPS/PPS yet";
    }
    // A PPS without an SPS makes no format either.
    feed(annexB({kPps, kIdr}));
    EXPECT_FALSE(tool.formatDescription());
    ASSERT_EQ(samples().size(), 5u);
    EXPECT_FALSE(samples()[4]->formatDescription());
}

TEST_F(H264DecoderToolTest, ShortAndStartCodeOnlyPacketsDeliverNothingAndBreakNothing)
{
    tool.readVideoInfo(nullptr);
    for (const Bytes& packet : std::vector<Bytes>{{},
                                                  {0x00},
                                                  {0x00, 0x00},
                                                  {0x00, 0x00, 0x01},
                                                  {0x00, 0x00, 0x00, 0x01},
                                                  {0x00, 0x00, 0x00, 0x00, 0x01},
                                                  {0x00, 0x00, 0x01, 0x00, 0x00, 0x01},
                                                  {0x00, 0x00, 0x01, 0x00, 0x00, 0x00},
                                                  {0x01, 0x02, 0x03},
                                                  {0x65, 0x88, 0x84, 0x21, 0x00, 0x00, 0x02},
                                                  {0x00, 0x00, 0x00, 0x00}})
        feed(packet);
    EXPECT_TRUE(samples().empty());
    EXPECT_EQ(tool.naluHeadLength(), 0);

    feed(annexB({kSps, kPps, kIdr}, 3));
    ASSERT_EQ(samples().size(), 1u);
    EXPECT_EQ(tool.naluHeadLength(), 3);
    EXPECT_EQ(bytesOf(samples()[0]->data()), annexB({kIdr}, 3));
}

TEST_F(H264DecoderToolTest, BytesBeforeTheFirstStartCodeAreDroppedAndTheRestIsSplit)
{
    Bytes packet{0xAA, 0xBB, 0x41};
    const auto rest = annexB({kSps, kPps, kIdr});
    packet.insert(packet.end(), rest.begin(), rest.end());
    feed(packet);
    ASSERT_TRUE(tool.formatDescription());
    ASSERT_EQ(samples().size(), 1u);
    EXPECT_EQ(bytesOf(samples()[0]->data()), annexB({kIdr}, 4));

    // Leading zeros are padding, and zeros before a start code belong to neither unit.
    feed({0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x41, 0x9A});
    feed({0x00, 0x00, 0x01, 0x65, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x41, 0x22, 0x00, 0x00});
    ASSERT_EQ(samples().size(), 4u);
    EXPECT_EQ(bytesOf(samples()[1]->data()), (Bytes{0x00, 0x00, 0x00, 0x01, 0x41, 0x9A}));
    EXPECT_EQ(bytesOf(samples()[2]->data()), (Bytes{0x00, 0x00, 0x01, 0x65, 0x11}));
    EXPECT_EQ(bytesOf(samples()[3]->data()), (Bytes{0x00, 0x00, 0x00, 0x01, 0x41, 0x22}));
}

TEST_F(H264DecoderToolTest, FormatIsRebuiltOncePerParameterSetChange)
{
    const auto keyFrame = [](const Bytes& sps, const Bytes& pps) { return annexB({sps, pps, kIdr, kSlice}); };
    for (int i = 0; i < 3; ++i)
        feed(keyFrame(kSps, kPps));
    const auto first = tool.formatDescription();
    for (int i = 0; i < 3; ++i)
        feed(keyFrame(kOtherSps, kPps));
    const auto second = tool.formatDescription();
    for (int i = 0; i < 3; ++i)
        feed(keyFrame(kOtherSps, kOtherPps));
    const auto third = tool.formatDescription();
    // An SPS alone makes no format: the format follows a PPS.
    feed(annexB({kSps, kSlice}));
    feed(keyFrame(kSps, kPps));

    ASSERT_TRUE(first && second && third);
    EXPECT_NE(first, second);
    EXPECT_NE(second, third);
    EXPECT_EQ(second->sps(), kOtherSps);
    EXPECT_EQ(second->pps(), kPps);
    EXPECT_EQ(third->pps(), kOtherPps);
    ASSERT_EQ(samples().size(), 21u);
    std::vector<std::shared_ptr<const VideoFormatDescription>> expected;
    for (const auto& format : {first, second, third})
        expected.insert(expected.end(), 6, format);
    expected.push_back(third);
    expected.insert(expected.end(), 2, tool.formatDescription());
    std::set<const VideoFormatDescription*> distinct;
    for (size_t i = 0; i < samples().size(); ++i) {
        EXPECT_EQ(samples()[i]->formatDescription(), expected[i]) << i;
        distinct.insert(samples()[i]->formatDescription().get());
    }
    EXPECT_EQ(distinct.size(), 4u);
}

TEST_F(H264DecoderToolTest, SampleKeepsItsBytesAfterThePacketIsDropped)
{
    auto packet = std::make_shared<Bytes>(annexB({kSps, kPps, kIdr, kSlice}));
    const std::weak_ptr<Bytes> watch = packet;
    tool.readVideoInfo(packet);
    packet.reset();
    ASSERT_FALSE(watch.expired());

    ASSERT_EQ(samples().size(), 2u);
    EXPECT_EQ(bytesOf(samples()[0]->data()), annexB({kIdr}, 4));
    EXPECT_EQ(bytesOf(samples()[1]->data()), annexB({kSlice}, 4));
    auto survivor = samples()[1];
    collector.samples.clear();
    EXPECT_FALSE(watch.expired());
    EXPECT_EQ(bytesOf(survivor->nalUnit()), kSlice);
    EXPECT_EQ(survivor->formatDescription()->sps(), kSps);
    survivor.reset();
    EXPECT_TRUE(watch.expired());
}

namespace {

// Access units of a moving pattern from the project's encoder: Annex-B with 4-byte start codes,
// SPS and PPS in front of key frames.
std::vector<Bytes> encodedAccessUnits(int width, int height, int frames)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    if (encoder.startEncodeSessionWithVideoSize(width, height, 10, 1'000'000) != 0)
        return {};
    MovingPattern pattern(Format::I420, width, height);
    for (int i = 0; i < frames; ++i)
        encoder.encodeWithSampleBuffer(pattern.draw(i), 0, sink.block());
    encoder.stopEncodeSession();
    return sink.units();
}

const std::vector<Bytes>& cast320x240()
{
    static const auto units = encodedAccessUnits(320, 240, 40);
    return units;
}

// The access units with each NAL unit put behind a start code of the width widthOf(access unit
// index, NAL unit index) gives.
std::vector<Bytes> rewriteStartCodes(const std::vector<Bytes>& accessUnits,
                                     const std::function<size_t(size_t, size_t)>& widthOf)
{
    std::vector<Bytes> out;
    for (size_t au = 0; au < accessUnits.size(); ++au)
        out.push_back(annexB(splitAnnexB(accessUnits[au]), [&](size_t nal) { return widthOf(au, nal); }));
    return out;
}

// The stream a decoder sees from the samples: the parameter sets whenever the format changes, then
// each sample as it is.
Bytes rebuiltStream(const std::vector<std::shared_ptr<const CompressedSample>>& samples)
{
    Bytes stream;
    const VideoFormatDescription* current = nullptr;
    for (const auto& sample : samples) {
        if (sample->formatDescription() && sample->formatDescription().get() != current) {
            current = sample->formatDescription().get();
            const auto head = current->parameterSetsAnnexB();
            stream.insert(stream.end(), head.begin(), head.end());
        }
        stream.insert(stream.end(), sample->data().begin(), sample->data().end());
    }
    return stream;
}

// The MD5 of every decoded picture, in order, as ffmpeg computes it.
std::vector<std::string> frameDigests(const Bytes& stream)
{
    TempDir dir;
    const auto outcome =
        Shell::run({"ffmpeg", "-v", "error", "-f", "h264", "-i", writeStream(dir, stream), "-f", "framemd5", "-"});
    std::vector<std::string> digests;
    if (!outcome || outcome->exitCode != 0)
        return digests;
    std::istringstream lines(outcome->output);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#')
            digests.push_back(line.substr(line.find_last_of(',') + 1));
    return digests;
}

size_t countDisplayableUnits(const std::vector<Bytes>& accessUnits)
{
    size_t count = 0;
    for (const auto& unit : accessUnits)
        for (const int type : nalTypes(unit))
            count += type != H264DecoderTool::kNalSei && type != H264DecoderTool::kNalSps &&
                     type != H264DecoderTool::kNalPps;
    return count;
}

} // namespace

// The samples, put back into a stream, decode to the very pictures of the packets fed in.
class H264SplitRoundTrip : public H264DecoderToolTest, public ::testing::WithParamInterface<const char*> {
protected:
    static size_t startCodeWidth(const std::string& form, size_t accessUnit, size_t nalUnit)
    {
        if (form == "three")
            return 3;
        if (form == "mixed")
            return (accessUnit + nalUnit) % 2 ? 3 : 4;
        return 4;
    }
};

TEST_P(H264SplitRoundTrip, DecodesToTheSameFrames)
{
    const std::string form = GetParam();
    ASSERT_EQ(cast320x240().size(), 40u);
    const auto packets = rewriteStartCodes(cast320x240(), [&](size_t au, size_t nal) {
        return startCodeWidth(form, au, nal);
    });
    const auto input = concatenated(packets);
    if (form != "four") {
        ASSERT_NE(input, concatenated(cast320x240()));
    }

    for (const auto& packet : packets)
        feed(packet);

    EXPECT_EQ(tool.naluHeadLength(), static_cast<int>(startCodeWidth(form, 0, 0)));
    ASSERT_EQ(samples().size(), countDisplayableUnits(cast320x240()));
    ASSERT_TRUE(tool.formatDescription());
    EXPECT_EQ(tool.formatDescription()->width(), 320);
    EXPECT_EQ(tool.formatDescription()->height(), 240);
    for (const auto& sample : samples()) {
        // The encoder repeats SPS and PPS before key frames; they did not change, so one format.
        EXPECT_EQ(sample->formatDescription(), tool.formatDescription());
        EXPECT_TRUE(sample->displayImmediately());
    }

    const auto expected = frameDigests(concatenated(cast320x240()));
    ASSERT_EQ(expected.size(), 40u);
    EXPECT_EQ(frameDigests(input), expected);
    EXPECT_EQ(frameDigests(rebuiltStream(samples())), expected);
}

INSTANTIATE_TEST_SUITE_P(StartCodes, H264SplitRoundTrip, ::testing::Values("four", "three", "mixed"));

TEST_F(H264DecoderToolTest, ANewStreamSizeMakesOneNewFormatWithItsSize)
{
    auto packets = cast320x240();
    const auto smaller = encodedAccessUnits(200, 120, 25);
    ASSERT_EQ(smaller.size(), 25u);
    packets.insert(packets.end(), smaller.begin(), smaller.end());
    for (const auto& packet : packets)
        feed(packet);

    std::vector<std::shared_ptr<const VideoFormatDescription>> formats;
    for (const auto& sample : samples())
        if (formats.empty() || sample->formatDescription() != formats.back())
            formats.push_back(sample->formatDescription());
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0]->width(), 320);
    EXPECT_EQ(formats[0]->height(), 240);
    // 200 x 120 is coded as 208 x 128 and cropped.
    EXPECT_EQ(formats[1]->width(), 200);
    EXPECT_EQ(formats[1]->height(), 120);
    EXPECT_EQ(frameDigests(rebuiltStream(samples())), frameDigests(concatenated(packets)));
}

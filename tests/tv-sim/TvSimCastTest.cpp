#include "RawLink.h"

#include "Media/AudioManager/AacEncoder.h"
#include "Media/AudioManager/AdtsHeader.h"
#include "Socket/CastVideoFormatPayload.h"
#include "Socket/MessageType.h"
#include "Socket/UdpChannelOpenPayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/CryptoTestSupport.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

using MediaCount = TvSim::MediaCount;

// A quiet TV answering casts at level 4, and a raw client linked to it.
struct Casting : ::testing::Test {
    void SetUp() override
    {
        ASSERT_TRUE(sim.start());
        link();
    }

    void link()
    {
        client.emplace(sim.port());
        ASSERT_TRUE(client->connected());
        ASSERT_TRUE(sim.waitForConnection(TvSim::kDefaultTimeout, ++links));
    }

    void send(uint16_t type, const std::vector<uint8_t>& payload = {})
    {
        ASSERT_TRUE(client->sendMessage(sequence++, type, 1, payload));
    }

    void announce(int32_t width, int32_t height, int32_t mirrorType = 0)
    {
        send(kMsgCastVideoFormat, CastVideoFormatPayload{width, height, mirrorType}.encode());
    }

    // The TV's next message, after whatever it answered to what came before: a marker it sends
    // when asked, so "no answer" shows as the marker coming first.
    std::optional<VideoQualityPayload> answer()
    {
        send(kMsgKeyDown);
        EXPECT_TRUE(sim.waitForMessagesOfType(kMsgKeyDown, ++markers));
        EXPECT_TRUE(sim.sendScreenCode("marker"));
        const auto next = client->readFrame();
        if (!next || next->header.type != kMsgVideoQuality)
            return std::nullopt;
        EXPECT_TRUE(client->readFrame(kMsgScreenCode));
        return VideoQualityPayload::decode(next->payload);
    }

    static void expectAnswer(const std::optional<VideoQualityPayload>& got, VideoQualityPayload expected)
    {
        ASSERT_TRUE(got);
        EXPECT_EQ(got->encode(), expected.encode());
    }

    TvSim sim{{.heartbeatInterval = TvSim::Timeout(0), .qualityLevel = 4}};
    std::optional<RawLink> client;
    size_t links = 0;
    size_t markers = 0;
    uint32_t sequence = 0;
};

TEST(TvCastTest, QualityLevelsGiveTheirSizeAndFrameRate)
{
    const struct {
        int32_t level, width, height, fps;
    } table[] = {{1, 1280, 720, 10}, {2, 1600, 900, 10}, {3, 1600, 900, 10}, {4, 1600, 900, 15},
                 {0, 1920, 1080, 30}, {5, 1920, 1080, 30}, {-1, 1920, 1080, 30}};
    for (const auto& row : table) {
        const auto answer = TvCast::answerFor(row.level);
        EXPECT_EQ(answer.level, row.level);
        EXPECT_EQ(answer.width, row.width) << row.level;
        EXPECT_EQ(answer.height, row.height) << row.level;
        EXPECT_EQ(answer.fps, row.fps) << row.level;
    }
}

TEST_F(Casting, AnswersOnlyTheFirstFormatOfEachCast)
{
    EXPECT_FALSE(sim.lastCastFormat());
    announce(1920, 1080);
    expectAnswer(answer(), {1600, 900, 4, 15});
    // The client restarts at the answered size: the same cast.
    announce(1600, 900, 2);
    EXPECT_FALSE(answer());
    ASSERT_TRUE(sim.lastCastFormat());
    EXPECT_EQ(sim.lastCastFormat()->encode(), (CastVideoFormatPayload{1600, 900, 2}.encode()));

    send(kMsgCastStop);
    sim.setQualityLevel(1);
    announce(1920, 1080);
    expectAnswer(answer(), {1280, 720, 1, 10});

    // A new link has no cast running, stopped or not.
    link();
    announce(1280, 720);
    expectAnswer(answer(), {1280, 720, 1, 10});
}

TEST_F(Casting, ATvWithoutALevelNeverAnswersAndAShortFormatIsIgnored)
{
    sim.setQualityLevel(std::nullopt);
    announce(1920, 1080);
    EXPECT_FALSE(answer());

    send(kMsgCastStop);
    sim.setQualityLevel(2);
    send(kMsgCastVideoFormat, std::vector<uint8_t>(27));
    EXPECT_FALSE(answer()) << "no cast begins with a format that can't be read";
    EXPECT_EQ(sim.lastCastFormat()->encode(), (CastVideoFormatPayload{1920, 1080, 0}.encode()));
    announce(1920, 1080);
    expectAnswer(answer(), {1600, 900, 2, 10});
}

TEST_F(Casting, AFormatOverTheSideChannelBeginsACastToo)
{
    ASSERT_TRUE(sim.openUdpChannel(UdpChannelOpenPayload::kRouteOther, 1'000));
    RawLink udp(sim.udp().port(), SOCK_DGRAM);
    ASSERT_TRUE(udp.sendMessage(0, kMsgCastVideoFormat, 1, CastVideoFormatPayload{1920, 1080, 1}.encode(),
                                *MessageFragmenter::withFragmentSize(1'000)));
    const auto quality = client->readFrame(kMsgVideoQuality);
    ASSERT_TRUE(quality);
    expectAnswer(VideoQualityPayload::decode(quality->payload), {1600, 900, 4, 15});
}

TEST_F(Casting, CountsTheMediaAfterTheLastStopAndJoinsTheSound)
{
    send(kMsgAudioFrame, {1, 2});
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgAudioFrame, 1));
    EXPECT_FALSE(sim.mediaAfterCastStop()) << "no stop yet";

    send(kMsgCastStop);
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgCastStop, 1));
    EXPECT_EQ(sim.mediaAfterCastStop(), (MediaCount{0, 0}));

    send(kMsgVideoFrame, {9});
    send(kMsgAudioFrame, {3});
    send(kMsgAudioFrame, {4, 5});
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgAudioFrame, 3));
    EXPECT_EQ(sim.mediaAfterCastStop(), (MediaCount{1, 2}));
    EXPECT_EQ(sim.audioStream(), (std::vector<uint8_t>{1, 2, 3, 4, 5}));

    send(kMsgCastStop);
    send(kMsgKeyDown);
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgKeyDown, 1));
    EXPECT_EQ(sim.mediaAfterCastStop(), (MediaCount{0, 0})) << "counted from the last stop";
}

// Frames as the sender's sound capture makes them: ffprobe reads what the TV joined as one stream.
TEST_F(Casting, TheJoinedSoundIsAnAdtsStream)
{
    const auto encoder = AacEncoder::create();
    ASSERT_TRUE(encoder);
    std::vector<float> tone(2 * 22'050);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i / 2) / 44'100));
    const auto packets = encoder->encode(tone);
    ASSERT_GT(packets.size(), 10u);
    for (const auto& packet : packets) {
        const auto frame = AdtsHeader::frame(packet);
        ASSERT_TRUE(frame);
        send(kMsgAudioFrame, *frame);
    }
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgAudioFrame, packets.size()));

    TempDir dir;
    writeBytes(dir / "sound.aac", sim.audioStream());
    const auto probe = Shell::run({"ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                   "stream=codec_name,profile,sample_rate,channels,nb_read_frames", "-of",
                                   "default=noprint_wrappers=1", (dir / "sound.aac").string()});
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->exitCode, 0);
    EXPECT_EQ(probe->output, "codec_name=aac\nprofile=LC\nsample_rate=44100\nchannels=2\nnb_read_frames=" +
                                 std::to_string(packets.size()) + "\n");
}

TEST_F(Casting, SendsTheTvsCastRequests)
{
    ASSERT_TRUE(sim.requestCast());
    ASSERT_TRUE(sim.interruptCast());
    ASSERT_TRUE(sim.lockCast());
    for (const uint16_t type : {kMsgTvRequestCast, kMsgTvInterruptCast, kMsgMirrorLocked}) {
        const auto frame = client->readFrame();
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->header.type, type);
        EXPECT_TRUE(frame->payload.empty());
    }
}

} // namespace

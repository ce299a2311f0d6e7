#include "EncodedStream.h"
#include "KeyWrap.h"
#include "RawLink.h"

#include "Socket/ClientInfoRecord.h"
#include "Socket/MessageType.h"
#include "Utils/EncryptedFrame.h"
#include "tv-sim/TvSim.h"
#include "tv-sim/VideoDecoder.h"

#include <gtest/gtest.h>

#include <future>
#include <optional>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
// Past the first forced key frame (every 20 frames at 10 frames per second).
constexpr int kFrames = 24;

// A quiet decoding TV and one raw client linked to it.
struct Decoding : ::testing::Test {
    void SetUp() override
    {
        stream = encodedStream(kWidth, kHeight, kFrames);
        ASSERT_EQ(stream.size(), size_t(kFrames));
    }

    void link(bool encryption)
    {
        sim.emplace(
            TvSim::Options{.heartbeatInterval = TvSim::Timeout(0), .encryption = encryption, .decodeVideo = true});
        ASSERT_TRUE(sim->start());
        client.emplace(sim->port());
        ASSERT_TRUE(client->connected());
        ASSERT_TRUE(sim->waitForConnection());
    }

    // One kMsgVideoFrame, its header time stamp 1000 + the number of video frames sent before it.
    void sendFrame(const std::vector<uint8_t>& payload)
    {
        ASSERT_TRUE(client->sendMessage(sequence++, kMsgVideoFrame, 1000 + videoFrames++, payload));
    }

    // Each unit, protected under key when one is given.
    void sendStream(const std::vector<uint8_t>* key = nullptr)
    {
        for (const auto& unit : stream) {
            const auto frame = key ? EncryptedFrame::protect(unit, *key) : unit;
            ASSERT_TRUE(frame);
            sendFrame(*frame);
        }
    }

    // Every decoded picture is whole and comes from the unit sent as number first + i.
    void expectPictures(uint64_t first)
    {
        ASSERT_TRUE(sim->decoder().waitForFrames(kFrames));
        const auto frames = sim->decoder().frames();
        ASSERT_EQ(frames.size(), size_t(kFrames));
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].index, first + i);
            EXPECT_EQ(frames[i].width, kWidth);
            EXPECT_EQ(frames[i].height, kHeight);
            EXPECT_EQ(frames[i].timeStamp, 1000 + first + i);
            EXPECT_EQ(frames[i].latencyMicros(), int64_t(frames[i].decodedMicros) - int64_t(frames[i].timeStamp));
        }
    }

    std::vector<std::vector<uint8_t>> stream;
    std::optional<TvSim> sim;
    std::optional<RawLink> client;
    uint32_t sequence = 0;
    uint64_t videoFrames = 0;
};

TEST_F(Decoding, DecodesEveryAccessUnitOfTheEncoderInOrder)
{
    link(false);
    sendStream();
    expectPictures(0);
    EXPECT_EQ(sim->decoder().errors(), 0u);
    EXPECT_EQ(sim->receivedCount(kMsgVideoFrame), size_t(kFrames)) << "decoding leaves the record as it was";
}

TEST_F(Decoding, UnitsThatDoNotDecodeAreCountedAndLeaveAGap)
{
    link(false);
    // A frame that is not a key frame and carries no parameter sets, before any: nothing to decode
    // it with. Then an empty frame and bytes without a start code.
    sendFrame(stream[2]);
    sendFrame({});
    sendFrame(std::vector<uint8_t>(64, 0x09));
    sendStream();
    expectPictures(3);
    EXPECT_EQ(sim->decoder().errors(), 3u);
}

TEST_F(Decoding, ProtectedFramesDecodeUnderTheAgreedKey)
{
    link(true);
    ASSERT_TRUE(client->sendMessage(sequence++, kMsgClientInfo, 1,
                                    ClientInfoRecord{.osVersion = "14.2.1", .deviceName = "Desk"}.encode()));
    const auto offer = client->readFrame(kMsgKeyExchangeOffer);
    ASSERT_TRUE(offer);
    const std::vector<uint8_t> key(32, 0x42);
    const auto wrapped = wrapForOffer(offer->payload, key);
    ASSERT_TRUE(wrapped);
    ASSERT_TRUE(client->sendMessage(sequence++, kMsgSessionKey, 1, *wrapped));
    ASSERT_EQ(sim->keyExchange().waitForOutcome(), TvSim::KeyExchangeOutcome::Agreed);

    sendStream(&key);
    expectPictures(0);
    EXPECT_EQ(sim->decoder().errors(), 0u);
    EXPECT_FALSE(sim->received(kMsgVideoFrame).front().plainSha256.empty()) << "the frames did travel protected";
}

TEST_F(Decoding, ADecoderTooFarBehindDropsWhatArrivesAndSaysSo)
{
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    bool first = true;
    // The observer holds the decoding thread inside the first picture.
    VideoDecoder decoder([&](const VideoDecoder::DecodedFrame&) {
        if (std::exchange(first, false)) {
            entered.set_value();
            released.wait();
        }
    });
    ASSERT_TRUE(decoder.start());
    decoder.submit(stream[0], 0);
    entered.get_future().wait();
    decoder.submit(std::vector<uint8_t>(VideoDecoder::kMaxPendingBytes + 1), 0);
    EXPECT_EQ(decoder.errors(), 1u);
    const size_t extra = 10;
    for (size_t i = 0; i < VideoDecoder::kMaxPendingUnits + extra; ++i)
        decoder.submit(stream[1], 0);
    EXPECT_EQ(decoder.errors(), 1 + extra);
    release.set_value();
    decoder.stop();
    // The decoding thread may take some of the waiting units before stop ends it, never the dropped ones.
    EXPECT_GE(decoder.frames().size(), 1u);
    EXPECT_LE(decoder.frames().size(), 1 + VideoDecoder::kMaxPendingUnits);
}

TEST(DecodingOff, DecodesNothingByDefault)
{
    TvSim sim(TvSim::Options{.heartbeatInterval = TvSim::Timeout(0)});
    ASSERT_TRUE(sim.start());
    RawLink client(sim.port());
    const auto stream = encodedStream(kWidth, kHeight, 1);
    ASSERT_EQ(stream.size(), 1u);
    ASSERT_TRUE(client.sendMessage(0, kMsgVideoFrame, 1, stream[0]));
    ASSERT_TRUE(sim.waitForMessagesOfType(kMsgVideoFrame, 1));
    EXPECT_TRUE(sim.decoder().frames().empty());
    EXPECT_EQ(sim.decoder().errors(), 0u);
    EXPECT_FALSE(sim.decoder().waitForFrames(1, TvSim::Timeout(0)));
}

} // namespace

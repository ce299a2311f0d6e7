#include "LumaDecoder.h"
#include "RawLink.h"
#include "TvSimProcess.h"

#include "Socket/ClientInfoRecord.h"
#include "Socket/MessageType.h"
#include "tv-sim/TestPattern.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

using Kind = TvInputEvent::Kind;
using Bytes = std::vector<uint8_t>;

// Two big-endian 32-bit words, written out by hand so the records are checked against the bytes.
Bytes bigEndianPair(int32_t first, int32_t second)
{
    const auto a = static_cast<uint32_t>(first);
    const auto b = static_cast<uint32_t>(second);
    return {uint8_t(a >> 24), uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a),
            uint8_t(b >> 24), uint8_t(b >> 16), uint8_t(b >> 8), uint8_t(b)};
}

Bytes touchBytes(int32_t x, int32_t y)
{
    auto bytes = bigEndianPair(x, y);
    bytes.resize(16, 0);
    return bytes;
}

// Peak signal-to-noise ratio in dB of a decoded luma plane against the pattern's frame as drawn, its
// luma taken with the BT.601 studio-range weights the encoder uses.
double lumaPsnr(const LumaDecoder::Picture& picture, uint32_t index)
{
    BgraFrame drawn;
    TestPattern::draw(index, picture.width, picture.height, drawn);
    double squares = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const uint8_t* bgra = drawn.pixel(x, y);
            const double luma = 16 + (65.481 * bgra[2] + 128.553 * bgra[1] + 24.966 * bgra[0]) / 255;
            const double error = luma - picture.luma[static_cast<size_t>(y) * picture.width + x];
            squares += error * error;
        }
    }
    const double mean = squares / (static_cast<double>(picture.width) * picture.height);
    return mean == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mean);
}

// A quiet TV (no heartbeats of its own) showing a small screen, and one raw client linked to it.
struct Viewing : ::testing::Test {
    static constexpr int kWidth = 320;
    static constexpr int kHeight = 240;
    static constexpr int kFrames = 12;

    void link(TvSim::Options options = {})
    {
        options.heartbeatInterval = TvSim::Timeout(0);
        options.screen = {.width = kWidth, .height = kHeight, .fps = 30};
        sim.emplace(std::move(options));
        ASSERT_TRUE(sim->start());
        client.emplace(sim->port());
        ASSERT_TRUE(client->connected());
        ASSERT_TRUE(sim->waitForConnection());
    }

    void send(uint16_t type, const Bytes& payload = {})
    {
        ASSERT_TRUE(client->sendMessage(sequence++, type, 1, payload));
    }

    // The start is answered first of all with the resolution, which the client echoes as its view size.
    void startViewing(int width, int height)
    {
        send(kMsgTvScreenStart);
        const auto answer = client->readMessage(kMsgTvScreenResolution);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->payload, bigEndianPair(width, height));
        send(kMsgViewSize, bigEndianPair(width, height));
    }

    // The next count video frames decode, in order, to the pattern's frames 0 to count - 1 at this size.
    void expectPattern(int width, int height, int count)
    {
        LumaDecoder decoder;
        for (int i = 0; i < count; ++i) {
            const auto frame = client->readMessage(kMsgVideoFrame);
            ASSERT_TRUE(frame) << i;
            const auto picture = decoder.decode(frame->payload);
            ASSERT_TRUE(picture) << i;
            EXPECT_EQ(picture->width, width);
            EXPECT_EQ(picture->height, height);
            EXPECT_EQ(TestPattern::readCounter(picture->luma, width, width, height), uint32_t(i));
            EXPECT_GT(lumaPsnr(*picture, uint32_t(i)), 30.0) << i;
        }
        framesRead += static_cast<uint64_t>(count);
    }

    // Every frame the TV sent comes before the marker message.
    void expectEveryFrameBefore(uint16_t marker)
    {
        const uint64_t sent = sim->view().framesStreamed();
        while (auto frame = client->readFrame()) {
            if (frame->header.type == marker)
                break;
            if (frame->header.type == kMsgVideoFrame && frame->header.fragmentIndex == 0)
                ++framesRead;
        }
        EXPECT_EQ(framesRead, sent);
        framesRead = 0;
    }

    // Once the TV has acted on the stop, no frame follows: not one comes after a message sent later.
    void expectStoppedAfterAllItSent()
    {
        EXPECT_FALSE(sim->view().viewing());
        ASSERT_TRUE(sim->send(kMsgTvVersion, TvMessages::int32(80)));
        expectEveryFrameBefore(kMsgTvVersion);
    }

    std::optional<TvSim> sim;
    std::optional<RawLink> client;
    uint32_t sequence = 0;
    uint64_t framesRead = 0;
};

TEST_F(Viewing, AnswersTheStartWithItsResolutionAndStreamsItsPatternUntilTheClientStops)
{
    link();
    startViewing(kWidth, kHeight);
    expectPattern(kWidth, kHeight, kFrames);
    EXPECT_TRUE(sim->view().viewing());
    EXPECT_EQ(sim->view().viewSize(), (TvSim::ViewSize{kWidth, kHeight}));
    send(kMsgTvScreenStop);
    ASSERT_TRUE(sim->waitForMessage(kMsgTvScreenStop));
    expectStoppedAfterAllItSent();

    // A second viewing at another size starts again from a key frame and frame 0; a 720p key frame
    // spans several fragments.
    ASSERT_TRUE(sim->view().setScreen({.width = 1280, .height = 720, .fps = 60}));
    startViewing(1280, 720);
    expectPattern(1280, 720, kFrames);
    EXPECT_EQ(sim->view().viewSize(), (TvSim::ViewSize{1280, 720}));
    send(kMsgTvScreenStop);
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgTvScreenStop, 2));
    expectStoppedAfterAllItSent();
}

TEST_F(Viewing, AStartWhileStreamingBeginsAfreshAfterTheNewResolution)
{
    link();
    startViewing(kWidth, kHeight);
    expectPattern(kWidth, kHeight, 2);
    ASSERT_TRUE(sim->view().setScreen({.width = 640, .height = 360, .fps = 120}));
    // The old stream's frames may come before the new resolution, never after it.
    send(kMsgTvScreenStart);
    ASSERT_TRUE(client->readMessage(kMsgTvScreenResolution));
    expectPattern(640, 360, kFrames);
    EXPECT_GE(sim->view().framesStreamed(), uint64_t(kFrames));
}

TEST_F(Viewing, EndsTheStreamWhenTheLinkGoesOrTheTvStopsIt)
{
    link();
    startViewing(kWidth, kHeight);
    expectPattern(kWidth, kHeight, 2);
    EXPECT_TRUE(sim->view().stopViewing());
    EXPECT_FALSE(sim->view().viewing());
    expectEveryFrameBefore(kMsgTvScreenStop);
    EXPECT_FALSE(sim->view().stopViewing());

    startViewing(kWidth, kHeight);
    expectPattern(kWidth, kHeight, 2);
    client.reset();
    ASSERT_TRUE(sim->waitForDisconnect());
    EXPECT_FALSE(sim->view().viewing());
}

TEST_F(Viewing, RefusesWithItsReasonAndInvitesAfterTheGreeting)
{
    link({.viewRefusal = 0, .inviteToView = true});
    send(kMsgClientInfo, ClientInfoRecord{.osVersion = "14.2.1", .deviceName = "Mac"}.encode());
    ASSERT_TRUE(client->readMessage(kMsgServerInfo));
    ASSERT_TRUE(client->readMessage(kMsgReverseInvite));

    send(kMsgTvScreenStart);
    const auto refusal = client->readMessage(kMsgTvScreenFail);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->payload, (Bytes{0, 0, 0, 0}));
    EXPECT_FALSE(sim->view().viewing());

    sim->view().setRefusal(std::nullopt);
    startViewing(kWidth, kHeight);
    expectPattern(kWidth, kHeight, 1);
}

TEST_F(Viewing, DecodesEachInputMessageIntoItsFields)
{
    link();
    send(kMsgTouchDown, touchBytes(150, 30));
    send(kMsgTouchMove, touchBytes(-2, 70'000));
    send(kMsgTouchUp, touchBytes(151, 31));
    send(kMsgTouchDown, {0, 0, 0, 1});  // too short for a touch: dropped
    send(kMsgAnnotationMode, {0, 0, 0, 1});
    send(kMsgAnnotationDown, touchBytes(1, 2));
    send(kMsgAnnotationMove, touchBytes(3, 4));
    send(kMsgAnnotationUp, touchBytes(5, 6));
    send(kMsgAnnotationUndo);
    send(kMsgAnnotationClear);
    send(kMsgAnnotationMode, {0, 0, 0, 0});
    send(kMsgScroll, bigEndianPair(0, -1));
    send(kMsgKeyDown, {0x04, 0, 0, 0});
    send(kMsgKeyUp, {0xFF, 0xFF, 0xFF, 0xFF});
    send(kMsgKeyCode, {0, 0, 0xF7, 0x04});
    const std::vector<TvInputEvent> expected = {
        {.kind = Kind::TouchDown, .x = 150, .y = 30},
        {.kind = Kind::TouchMove, .x = -2, .y = 70'000},
        {.kind = Kind::TouchUp, .x = 151, .y = 31},
        {.kind = Kind::AnnotationMode, .value = 1},
        {.kind = Kind::AnnotationDown, .x = 1, .y = 2},
        {.kind = Kind::AnnotationMove, .x = 3, .y = 4},
        {.kind = Kind::AnnotationUp, .x = 5, .y = 6},
        {.kind = Kind::AnnotationUndo},
        {.kind = Kind::AnnotationClear},
        {.kind = Kind::AnnotationMode, .value = 0},
        {.kind = Kind::Scroll, .x = 0, .y = -1},
        {.kind = Kind::KeyDown, .value = 0x04},
        {.kind = Kind::KeyUp, .value = 0xFFFFFFFF},
        {.kind = Kind::KeyCode, .value = 0xF704},
    };
    ASSERT_TRUE(sim->view().waitForInput(expected.size()));
    ASSERT_TRUE(sim->waitForMessages(15));
    EXPECT_EQ(sim->view().inputEvents(), expected);
    EXPECT_EQ(expected[0].describe(), "touch_down x=150 y=30");
    EXPECT_EQ(expected[10].describe(), "scroll dx=0 dy=-1");
    EXPECT_EQ(expected[12].describe(), "key_up usage=0xffffffff");
    EXPECT_EQ(expected[13].describe(), "key_code code=0xf704");
    sim->clearReceived();
    EXPECT_TRUE(sim->view().inputEvents().empty());
}

TEST(TestPattern, FramesDifferAndTheCounterNeedsRoom)
{
    BgraFrame first;
    BgraFrame second;
    TestPattern::draw(0, 640, 360, first);
    TestPattern::draw(1, 640, 360, second);
    ASSERT_EQ(first.width, 640);
    EXPECT_NE(std::vector<uint8_t>(first.pixel(0, 200), first.pixel(0, 201)),
              std::vector<uint8_t>(second.pixel(0, 200), second.pixel(0, 201)));
    const std::vector<uint8_t> tiny(64 * 16, 0);
    EXPECT_EQ(TestPattern::readCounter(tiny, 64, 64, 16), std::nullopt);
    EXPECT_EQ(TestPattern::readCounter(tiny, 64, 64, 17), std::nullopt);  // the plane misses a row
}

TEST(TvSimViewCommand, ReportsTheViewingAndTheDecodedInput)
{
    TvSimProcess sim({"--no-heartbeat", "--screen", "320x240", "--screen-fps", "10"});
    const uint16_t port = sim.listenPort();
    ASSERT_NE(port, 0);
    RawLink client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.sendMessage(0, kMsgTvScreenStart, 1, {}));
    const auto resolution = client.readMessage(kMsgTvScreenResolution);
    ASSERT_TRUE(resolution);
    EXPECT_EQ(resolution->payload, bigEndianPair(320, 240));
    ASSERT_TRUE(client.readMessage(kMsgVideoFrame));
    ASSERT_TRUE(client.sendMessage(1, kMsgViewSize, 1, bigEndianPair(320, 240)));
    ASSERT_TRUE(client.sendMessage(2, kMsgTouchDown, 1, touchBytes(150, 30)));
    ASSERT_TRUE(client.sendMessage(3, kMsgTvScreenStop, 1, {}));
    std::vector<std::string> wanted = {"view start size=320x240 fps=10", "view size=320x240",
                                       "input touch_down x=150 y=30"};
    std::vector<std::string> seen;
    std::optional<std::string> stop;
    while (auto line = sim.reportLine()) {
        if (line->starts_with("view ") || line->starts_with("input ")) {
            if (line->starts_with("view stop ")) {
                stop = line;
                break;
            }
            seen.push_back(*line);
        }
    }
    EXPECT_EQ(seen, wanted);
    ASSERT_TRUE(stop);
    EXPECT_TRUE(std::regex_match(*stop, std::regex(R"(view stop frames=[1-9]\d* by=client)"))) << *stop;
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(TvSimViewCommand, AStillScreenShowsFrameZeroItDumpedAndTheNextViewTakesTheNextScreen)
{
    const auto folder = std::filesystem::temp_directory_path() / ("tv-sim-dump-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    TvSimProcess sim({"--no-heartbeat", "--screen", "320x240", "--screen", "160x96", "--screen-still",
                      "--screen-dump", folder.string()});
    const uint16_t port = sim.listenPort();
    ASSERT_NE(port, 0);
    std::ifstream dumped(folder / "screen-320x240.ppm", std::ios::binary);
    std::string header((std::istreambuf_iterator<char>(dumped)), {});
    EXPECT_TRUE(header.starts_with("P6\n320 240\n255\n"));
    EXPECT_EQ(header.size(), std::string("P6\n320 240\n255\n").size() + 320 * 240 * 3);
    EXPECT_TRUE(std::filesystem::exists(folder / "screen-160x96.ppm"));

    RawLink client(port);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.sendMessage(0, kMsgTvScreenStart, 1, {}));
    ASSERT_TRUE(client.readMessage(kMsgTvScreenResolution));
    LumaDecoder decoder;
    for (int i = 0; i < 4; ++i) {
        const auto frame = client.readMessage(kMsgVideoFrame);
        ASSERT_TRUE(frame);
        const auto picture = decoder.decode(frame->payload);
        ASSERT_TRUE(picture);
        EXPECT_EQ(TestPattern::readCounter(picture->luma, 320, 320, 240), TestPattern::kStillFrame) << i;
    }
    ASSERT_TRUE(client.sendMessage(1, kMsgTvScreenStop, 1, {}));
    // The stop reaches the report before the next start is read: the screen has changed by then.
    while (auto line = sim.reportLine()) {
        if (line->starts_with("view stop "))
            break;
    }
    ASSERT_TRUE(client.sendMessage(2, kMsgTvScreenStart, 1, {}));
    const auto second = client.readMessage(kMsgTvScreenResolution);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->payload, bigEndianPair(160, 96));
    EXPECT_EQ(sim.terminate(), 0);
    std::filesystem::remove_all(folder);
}

} // namespace

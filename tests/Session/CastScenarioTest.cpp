#include "Session/PrivateXvfbFixture.h"
#include "Session/WithTvSimSession.h"

#include "Media/AudioPrivatePulseServer.h"
#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"
#include "Session/CastingController.h"
#include "Session/ConnectionController.h"
#include "Session/MainWindowController.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

bool isMedia(uint16_t type)
{
    return type == kMsgVideoFrame || type == kMsgAudioFrame;
}

// The messages the TV received, link upkeep left out, one line a message; a run of media is one line
// with its counts: "media: 31 video, 55 sound".
std::string traceOf(const std::vector<ReceivedMessage>& messages)
{
    std::string trace;
    size_t video = 0;
    size_t sound = 0;
    const auto flush = [&] {
        if (video + sound > 0)
            trace += "media: " + std::to_string(video) + " video, " + std::to_string(sound) + " sound\n";
        video = sound = 0;
    };
    for (const auto& message : messages) {
        if (message.type == kMsgHeartbeat || message.type == kMsgNetworkEcho)
            continue;
        if (isMedia(message.type)) {
            ++(message.type == kMsgVideoFrame ? video : sound);
            continue;
        }
        flush();
        trace += std::string(MessageCatalogue::name(message.type)) + "\n";
    }
    flush();
    return trace;
}

// The order the casting exchange keeps: a cast is announced with the video then the sound format;
// media follows only once the TV's answer made the second video format go out; after kMsgCastStop no
// media comes until the next announcement. Empty when kept, else what broke it.
std::string orderBroken(const std::vector<ReceivedMessage>& messages)
{
    enum class Cast { Idle, Announced, Answered, Capturing } cast = Cast::Idle;
    size_t index = 0;
    for (const auto& message : messages) {
        const std::string at = " at message " + std::to_string(index++);
        switch (message.type) {
        case kMsgCastVideoFormat:
            cast = cast == Cast::Idle ? Cast::Announced : Cast::Capturing;
            break;
        case kMsgCastAudioFormat:
            if (cast != Cast::Announced)
                return "sound format outside an announcement" + at;
            cast = Cast::Answered;
            break;
        case kMsgCastStop:
            cast = Cast::Idle;
            break;
        default:
            if (isMedia(message.type) && cast != Cast::Capturing)
                return std::string(MessageCatalogue::name(message.type)) + " outside a capturing cast" + at;
        }
    }
    return {};
}

class CastScenarioTest : public WithTvSimSession<PrivateXvfbFixture> {
protected:
    void SetUp() override
    {
        PrivateXvfbFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        if (!AudioPrivatePulseServer::installed())
            GTEST_SKIP() << "pulseaudio is not installed";
        display.emplace("DISPLAY", server->name());
        sound.emplace();
        ASSERT_TRUE(sound->ready()) << "private pulseaudio did not start; see " << sound->dir();
        TvSim::Options options;
        options.encryption = true;
        options.decodeVideo = true;
        startSession(options);
    }

    void TearDown() override { stopSession(); }

    CastingController& casting() { return controller->casting(); }

    bool castingStopped()
    {
        return loop->runUntil([&] { return !casting().castRunning(); }, 10s);
    }

    // Until `count` pictures of width x height were decoded after the first `after` pictures.
    bool decodedAtSize(size_t after, int width, int height, size_t count = 3)
    {
        return loop->runUntil(
            [&] {
                const auto frames = sim->decodedFrames();
                size_t matching = 0;
                for (size_t i = after; i < frames.size(); ++i)
                    matching += frames[i].width == width && frames[i].height == height;
                return matching >= count;
            },
            20s);
    }

    void cast()
    {
        casting().clickScreen(true);
        ASSERT_TRUE(loop->runUntil([&] { return casting().captureFormat().has_value(); }, 10s));
    }

    std::optional<ScopedEnv> display;
    std::optional<AudioPrivatePulseServer> sound;
};

// Connect by address, agree a key, cast while the TV answers each quality level in turn (each decoded
// at exactly its size, from encrypted frames), with the loopback's sound as ADTS; the TV's interrupt
// and lock stop the cast, the stop button too, with no media after the stop; then disconnect.
TEST_F(CastScenarioTest, ACastThroughEveryQualityLevelStopsEveryWay)
{
    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_EQ(sim->waitForKeyExchange(), TvSim::KeyExchangeOutcome::Agreed);
    ASSERT_TRUE(loop->runUntil([&] {
        return link->aesKey() != nullptr && state().ConnectWithTv && state().screenProjectionCode.has_value();
    }));
    EXPECT_NE(std::find(view.calls.begin(), view.calls.end(), "showPage Connected"), view.calls.end());
    ASSERT_TRUE(AudioPrivatePulseServer::pactl({"load-module", "module-sine", "sink=ROZI-Audio", "frequency=440"}));

    struct Level {
        int32_t level;
        int width;
        int height;
    };
    const Level levels[] = {{1, 1280, 720}, {2, 1600, 900}, {3, 1600, 900}, {4, 1600, 900}, {0, 1920, 1080}};
    cast();
    for (const Level& level : levels) {
        const size_t before = sim->decodedFrames().size();
        if (level.level != 1) {
            ASSERT_TRUE(sim->send(kMsgVideoQuality, TvSim::videoQuality(0, 0, level.level, 0)));
        }
        EXPECT_TRUE(decodedAtSize(before, level.width, level.height)) << "level " << level.level;
    }
    for (const auto& frame : sim->received(kMsgVideoFrame))
        ASSERT_FALSE(frame.plainSha256.empty()) << "a video frame not sealed with the session key";

    // The sound, as the TV received it, is AAC that ffprobe reads.
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgAudioFrame, 20, 10s));
    const TempDir folder;
    const std::string adts = (folder.path() / "sound.aac").string();
    {
        const auto stream = sim->audioStream();
        std::ofstream(adts, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
    }
    const auto probe = Shell::run({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels",
                                   "-of", "default=noprint_wrappers=1", adts});
    ASSERT_TRUE(probe && probe->exitCode == 0);
    EXPECT_EQ(probe->output, "codec_name=aac\nsample_rate=44100\nchannels=2\n");

    // The TV's interrupt, then its lock (once the alert is closed), stop the cast.
    ASSERT_TRUE(sim->interruptCast());
    ASSERT_TRUE(castingStopped());
    cast();
    ASSERT_TRUE(sim->lockCast());
    ASSERT_TRUE(loop->runUntil([&] { return bool(view.pendingAlert); }));
    view.pendingAlert();
    ASSERT_TRUE(castingStopped());

    // The stop button, with nothing after the stop message.
    cast();
    ASSERT_TRUE(decodedAtSize(sim->decodedFrames().size(), 1280, 720, 1));
    casting().clickStopScreenBtn();
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgCastStop, 3));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(sim->mediaAfterCastStop(), (TvSim::MediaCount{0, 0}));
    controller->connection().clickDisConnectBtn();
    ASSERT_TRUE(sim->waitForDisconnect());
    ASSERT_TRUE(loop->runUntil([&] { return !state().ConnectWithTv; }));

    const auto messages = sim->received();
    std::printf("message trace:\n%s", traceOf(messages).c_str());
    EXPECT_EQ(messages.front().type, kMsgClientInfo);
    EXPECT_EQ(orderBroken(messages), "");
    EXPECT_LE(sim->decodeErrors(), 0u);
}

} // namespace

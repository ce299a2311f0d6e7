#include "AudioPrivatePulseServer.h"

#include "Media/AudioManager/AudioManager.h"
#include "Media/SoundPreferences.h"
#include "Media/RecordingVolumeSink.h"
#include "Platform/PulseServerDevices.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace {

class AudioLoopbackTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!AudioPrivatePulseServer::installed())
            GTEST_SKIP() << "pulseaudio is not installed";
        server_.emplace();
        ASSERT_TRUE(server_->ready()) << "private pulseaudio did not start; see its log in " << server_->dir();
    }

    void TearDown() override { server_.reset(); }

    std::string path(const std::string& name) const { return server_->dir() + "/" + name; }

    std::optional<AudioPrivatePulseServer> server_;
};

// The ADTS frames one capture delivered, and how much sound they hold.
struct Capture {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint8_t> stream;
    size_t frames = 0;

    static int32_t onFrame(void* user, const uint8_t* bytes, uint32_t length)
    {
        auto* self = static_cast<Capture*>(user);
        std::lock_guard lock(self->mutex);
        self->stream.insert(self->stream.end(), bytes, bytes + length);
        ++self->frames;
        self->changed.notify_all();
        return 0;
    }
};

// Zero crossings of a mono 16-bit signal, as a frequency; the first quarter second (encoder
// start-up) is skipped.
double dominantFrequency(const std::vector<int16_t>& samples, double rate)
{
    size_t start = static_cast<size_t>(rate / 4);
    if (samples.size() <= start + 1)
        return 0;
    size_t crossings = 0;
    for (size_t i = start + 1; i < samples.size(); ++i)
        if ((samples[i - 1] < 0) != (samples[i] < 0))
            ++crossings;
    return crossings / 2.0 / (static_cast<double>(samples.size() - start) / rate);
}

}  // namespace

TEST_F(AudioLoopbackTest, CapturesTheLoopbackAsDecodableAacLcOfThePlayedTone)
{
    ASSERT_TRUE(AudioPrivatePulseServer::pactl({"load-module", "module-sine", "sink=ROZI-Audio", "frequency=1000"}));

    Capture capture;
    AudioManager manager;
    manager.SetCallback(&capture, Capture::onFrame);
    manager.StartRecord();
    // Two seconds of sound: 1,024 samples an AAC frame at 44,100 Hz.
    constexpr size_t kFrames = 2 * 44100 / 1024 + 1;
    {
        std::unique_lock lock(capture.mutex);
        ASSERT_TRUE(capture.changed.wait_for(lock, std::chrono::seconds(30), [&] { return capture.frames >= kFrames; }));
    }
    manager.StopRecord();

    {
        std::lock_guard lock(capture.mutex);
        writeFile(path("capture.aac"), std::string(capture.stream.begin(), capture.stream.end()));
    }

    auto probe = Shell::run({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,profile,sample_rate,channels",
                             "-of", "default=noprint_wrappers=1", path("capture.aac")});
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->exitCode, 0);
    EXPECT_EQ(probe->output, "codec_name=aac\nprofile=LC\nsample_rate=44100\nchannels=2\n");

    auto decode = Shell::run({"ffmpeg", "-v", "error", "-xerror", "-i", path("capture.aac"), "-f", "s16le", "-ac", "1",
                              "-ar", "44100", "-y", path("capture.raw")});
    ASSERT_TRUE(decode);
    ASSERT_EQ(decode->exitCode, 0);

    const std::string bytes = readFile(path("capture.raw"));
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    ASSERT_GE(samples.size(), 44100u * 3 / 2);
    int peak = 0;
    for (int16_t sample : samples)
        peak = std::max(peak, std::abs(static_cast<int>(sample)));
    EXPECT_GT(peak, 1000) << "captured silence";
    EXPECT_NEAR(dominantFrequency(samples, 44100), 1000.0, 30.0);
}

TEST_F(AudioLoopbackTest, RoutingSwitchesToTheLoopbackAndRestoresThePreviousDefaults)
{
    auto volumes = std::make_shared<RecordingVolumeSink>();
    auto devices = std::shared_ptr<PulseDevices>(PulseServerDevices::connect());
    ASSERT_TRUE(devices);
    SoundPreferences preferences(devices, volumes);

    EXPECT_EQ(AudioPrivatePulseServer::pactl({"get-default-sink"}), "Speakers");
    preferences.useAudioDeviceForInput("ROZI-Audio");
    preferences.useAudioDeviceForInputAndOutput("ROZI-Audio");
    EXPECT_EQ(AudioPrivatePulseServer::pactl({"get-default-sink"}), "ROZI-Audio");
    EXPECT_EQ(AudioPrivatePulseServer::pactl({"get-default-source"}), "ROZI-Audio2ch_UID");
    EXPECT_NE(preferences.defaultOutputDeviceId(), 0u);

    preferences.addAudioOutputVolumeListener();
    ASSERT_TRUE(AudioPrivatePulseServer::pactl({"set-sink-volume", "ROZI-Audio", "50%"}));
    ASSERT_TRUE(volumes->waitForReport());
    EXPECT_EQ(volumes->percents().front(), 50);
    preferences.removeAudioOutputVolumeListener();

    preferences.restoreMacAudioDevices();
    EXPECT_EQ(AudioPrivatePulseServer::pactl({"get-default-sink"}), "Speakers");
    EXPECT_EQ(AudioPrivatePulseServer::pactl({"get-default-source"}), "Microphone");
}

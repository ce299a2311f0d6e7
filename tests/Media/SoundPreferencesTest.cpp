#include "Media/SoundPreferences.h"

#include "Media/RecordingVolumeSink.h"

#include "Platform/PulseMemoryDevices.h"
#include "Platform/PulseServerDevices.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

using Kind = PulseDevice::Kind;

PulseDevice device(Kind kind, uint32_t index, std::string name, std::string description, bool monitor = false)
{
    return PulseDevice{kind, index, std::move(name), std::move(description), monitor};
}

// A computer with its own speakers and microphone and the loopback device: a null sink, its
// monitor, and the two-channel remap source. The monitor comes last, so were it taken for an input
// it would win the "last match" rule.
class SoundPreferencesTest : public ::testing::Test {
protected:
    SoundPreferencesTest()
    {
        backend->addDevice(device(Kind::Sink, 1, "alsa_output.analog-stereo", "Built-in Audio Analog Stereo"));
        backend->addDevice(device(Kind::Source, 1, "alsa_output.analog-stereo.monitor", "Monitor of Built-in Audio", true));
        backend->addDevice(device(Kind::Source, 2, "alsa_input.analog-stereo", "Built-in Audio Analog Stereo"));
        backend->setDefaultDevice(Kind::Sink, "alsa_output.analog-stereo");
        backend->setDefaultDevice(Kind::Source, "alsa_input.analog-stereo");
    }

    void installLoopback()
    {
        backend->addDevice(device(Kind::Sink, 5, "ROZI-Audio", "ROZI-Audio"));
        backend->addDevice(device(Kind::Source, 7, "ROZI-Audio2ch_UID", "ROZI-Audio"));
        backend->addDevice(device(Kind::Source, 6, "ROZI-Audio.monitor", "Monitor of ROZI-Audio", true));
        backend->setVolume(Kind::Sink, "ROZI-Audio", 0.25f);
        backend->setVolume(Kind::Source, "ROZI-Audio2ch_UID", 0.25f);
    }

    void switchToLoopback()
    {
        preferences.useAudioDeviceForInput("ROZI-Audio");
        preferences.useAudioDeviceForInputAndOutput("ROZI-Audio");
    }

    std::shared_ptr<PulseMemoryDevices> backend = std::make_shared<PulseMemoryDevices>();
    std::shared_ptr<RecordingVolumeSink> volumes = std::make_shared<RecordingVolumeSink>();
    TempDir folder;
    SoundDeviceRecord record{folder / "pelkor" / "sound-devices"};
    SoundPreferences preferences{backend, volumes, record};
};

}  // namespace

TEST_F(SoundPreferencesTest, SwitchUsesTheLoopbackAtFullVolumeAndRestoreBringsBackThePreviousDevices)
{
    installLoopback();
    std::vector<std::string> inputs;
    for (const auto& input : preferences.inputDevices())
        inputs.push_back(input.name);
    EXPECT_EQ(inputs, (std::vector<std::string>{"alsa_input.analog-stereo", "ROZI-Audio2ch_UID"})) << "monitors are no inputs";

    switchToLoopback();
    EXPECT_EQ(record.load(), (SoundDeviceRecord::Devices{"alsa_output.analog-stereo", "alsa_input.analog-stereo"}))
        << "the user's devices are on disk while switched";
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "ROZI-Audio");
    EXPECT_EQ(backend->defaultDevice(Kind::Source), "ROZI-Audio2ch_UID");
    EXPECT_EQ(backend->volume(Kind::Sink, "ROZI-Audio"), 1.0f);
    EXPECT_EQ(backend->volume(Kind::Source, "ROZI-Audio2ch_UID"), 1.0f);
    EXPECT_EQ(preferences.defaultOutputDeviceId(), 5u);

    // The second switch found the loopback already chosen for input and kept the earlier choice.
    preferences.restoreMacAudioDevices();
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "alsa_output.analog-stereo");
    EXPECT_EQ(backend->defaultDevice(Kind::Source), "alsa_input.analog-stereo");
    EXPECT_FALSE(record.load());
    EXPECT_FALSE(preferences.repairUnrestoredDevices()) << "a restored run leaves nothing to repair";

    // Nothing is remembered any more: a restore without a switch leaves the user's choice alone.
    backend->setDefaultDevice(Kind::Sink, "ROZI-Audio");
    preferences.restoreMacAudioDevices();
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "ROZI-Audio");
}

TEST_F(SoundPreferencesTest, LaterMatchWinsAndEveryMatchIsAtFullVolume)
{
    installLoopback();
    backend->addDevice(device(Kind::Sink, 9, "rozi-audio-second", "Second"));
    backend->setVolume(Kind::Sink, "rozi-audio-second", 0.5f);
    preferences.useAudioDeviceForInputAndOutput("ROZI-Audio");
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "rozi-audio-second");
    EXPECT_EQ(backend->volume(Kind::Sink, "ROZI-Audio"), 1.0f);
    EXPECT_EQ(backend->volume(Kind::Sink, "rozi-audio-second"), 1.0f);
}

TEST_F(SoundPreferencesTest, WithoutLoopbackOrServerNothingChanges)
{
    switchToLoopback();
    preferences.restoreMacAudioDevices();
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "alsa_output.analog-stereo");
    EXPECT_EQ(backend->defaultDevice(Kind::Source), "alsa_input.analog-stereo");

    installLoopback();
    backend->failAll(true);
    switchToLoopback();
    preferences.restoreMacAudioDevices();
    EXPECT_EQ(preferences.defaultOutputDeviceId(), 0u);
    backend->failAll(false);
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "alsa_output.analog-stereo");

    SoundPreferences detached(nullptr, nullptr);
    detached.useAudioDeviceForInputAndOutput("ROZI-Audio");
    detached.restoreMacAudioDevices();
    detached.addAudioOutputVolumeListener();
    EXPECT_EQ(detached.defaultOutputDeviceId(), 0u);
}

// Only a record of device names is applied: anything else in the file leaves the defaults alone.
TEST_F(SoundPreferencesTest, ARepairAppliesOnlyAWellFormedRecord)
{
    installLoopback();
    const std::string tooLong(SoundDeviceRecord::kMaxNameLength + 1, 'a');
    const std::vector<std::string> bad = {"sink \n", "speaker alsa_output.analog-stereo\n",
                                          "sink " + tooLong + "\n", "sink a\tb\n",
                                          std::string(SoundDeviceRecord::kMaxFileSize + 1, '#')};
    for (const auto& contents : bad) {
        SCOPED_TRACE(contents.substr(0, 40));
        backend->setDefaultDevice(Kind::Sink, "ROZI-Audio");
        std::filesystem::create_directories(record.file().parent_path());
        std::ofstream(record.file()) << contents;
        EXPECT_FALSE(preferences.repairUnrestoredDevices());
        EXPECT_EQ(backend->defaultDevice(Kind::Sink), "ROZI-Audio");
    }
    EXPECT_FALSE(record.save({"a\nsource b", std::nullopt})) << "a name that would forge a line";
    ASSERT_TRUE(record.save({"alsa_output.analog-stereo", std::nullopt}));
    EXPECT_TRUE(preferences.repairUnrestoredDevices());
    EXPECT_EQ(backend->defaultDevice(Kind::Sink), "alsa_output.analog-stereo");
    EXPECT_EQ(backend->defaultDevice(Kind::Source), "alsa_input.analog-stereo");
    EXPECT_FALSE(record.load());
}

TEST_F(SoundPreferencesTest, VolumeChangesAreSentOncePerPercent)
{
    preferences.addAudioOutputVolumeListener();
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.5f);
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.5f);
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.999f);
    backend->changeVolume(Kind::Source, "alsa_input.analog-stereo", 0.1f);  // not watched
    EXPECT_EQ(volumes->percents(), (std::vector<int32_t>{50, 99}));

    preferences.removeAudioOutputVolumeListener();
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.2f);
    EXPECT_EQ(volumes->percents().size(), 2u);
}

// The application installs its sink after the instance exists, and may take it away again.
TEST_F(SoundPreferencesTest, VolumeChangesGoToTheSinkInstalledAtTheTime)
{
    preferences.setOutputVolumeSink(nullptr);
    preferences.addAudioOutputVolumeListener();
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.5f);
    EXPECT_TRUE(volumes->percents().empty());

    auto installed = std::make_shared<RecordingVolumeSink>();
    preferences.setOutputVolumeSink(installed);
    // The first value reported to the new sink, though unchanged since.
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.5f);
    backend->changeVolume(Kind::Sink, "alsa_output.analog-stereo", 0.25f);
    EXPECT_EQ(installed->percents(), (std::vector<int32_t>{50, 25}));
    EXPECT_TRUE(volumes->percents().empty());
}

TEST(SoundPreferencesServerTest, AnAbsentServerGivesNoBackend)
{
    ScopedEnv noServer("PULSE_SERVER", "unix:/nonexistent/pelkor-test/native");
    EXPECT_EQ(PulseServerDevices::connect(), nullptr);
}

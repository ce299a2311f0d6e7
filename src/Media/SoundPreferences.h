#pragma once

#include "Media/OutputVolumeSink.h"
#include "Media/SoundDeviceRecord.h"
#include "Platform/PulseDevices.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Routes the default audio devices to the loopback device and back, and reports output volume
// changes to its OutputVolumeSink (the application sends them to the TV). A name matches a pattern
// when the pattern occurs in its server name or its description, ignoring case; monitor sources
// never count as inputs. Failures are skipped. With a record, the devices a switch replaces are
// written to it before the switch and removed from it by the restore.
class SoundPreferences {
public:
    // Reports nothing while volumeSink is null.
    SoundPreferences(std::shared_ptr<PulseDevices> devices, std::shared_ptr<OutputVolumeSink> volumeSink,
                     std::optional<SoundDeviceRecord> record = std::nullopt);
    ~SoundPreferences();
    SoundPreferences(const SoundPreferences&) = delete;
    SoundPreferences& operator=(const SoundPreferences&) = delete;

    // The process's one instance, on the running sound server; it reports to no one until the
    // application installs its sink.
    static SoundPreferences& shared();

    // Replaces the sink; null stops the reports. Any thread.
    void setOutputVolumeSink(std::shared_ptr<OutputVolumeSink> volumeSink);

    std::vector<PulseDevice> inputDevices();
    std::vector<PulseDevice> outputDevices();

    // Every matching device becomes the default output and input, at full volume; the last match
    // in the server's order wins.
    void useAudioDeviceForInputAndOutput(const std::string& name);
    // Every matching input becomes the default input, at full input volume.
    void useAudioDeviceForInput(const std::string& name);
    // Brings back the defaults that were in place before the first switch since the last restore.
    void restoreMacAudioDevices();
    // A record left by a run that ended while switched: its devices become the defaults again and the
    // record goes. True when there was one.
    bool repairUnrestoredDevices();
    // The default sink's index; 0 when there is none.
    uint32_t defaultOutputDeviceId();

    void addAudioOutputVolumeListener();
    void removeAudioOutputVolumeListener();
    // Reports the default sink's volume in percent to the sink, once per new value.
    void outputVolumeListener();

private:
    using Kind = PulseDevice::Kind;

    std::vector<PulseDevice> matching(const std::string& name, Kind kind);
    // Keeps the current default of kind unless one is kept already or it is a device of the pattern.
    void remember(Kind kind, const std::string& name);
    // Makes the matching devices of each kind the defaults at full volume, remembering (and recording)
    // the ones they replace first.
    void switchTo(const std::string& name, std::initializer_list<Kind> kinds);
    // Writes the remembered devices to the record, or removes it when none are remembered.
    void record();
    std::optional<std::string>& saved(Kind kind);

    std::shared_ptr<PulseDevices> devices_;
    const std::optional<SoundDeviceRecord> record_;
    // Guards the fields below.
    std::mutex mutex_;
    std::shared_ptr<OutputVolumeSink> volumeSink_;
    std::optional<std::string> savedSink_;
    std::optional<std::string> savedSource_;
    int32_t lastVolumeSent_ = -1;
};

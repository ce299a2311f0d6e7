#include "Media/SoundPreferences.h"

#include "Platform/PulseServerDevices.h"
#include "Utils/Log.h"

#include <algorithm>
#include <cctype>

namespace {

bool containsIgnoringCase(const std::string& text, const std::string& pattern)
{
    auto lower = [](unsigned char c) { return std::tolower(c); };
    auto found = std::search(text.begin(), text.end(), pattern.begin(), pattern.end(),
                             [&](char a, char b) { return lower(a) == lower(b); });
    return found != text.end();
}

bool matches(const PulseDevice& device, const std::string& pattern)
{
    return containsIgnoringCase(device.name, pattern) || containsIgnoringCase(device.description, pattern);
}

bool isInput(const PulseDevice& device)
{
    return device.kind == PulseDevice::Kind::Source && !device.monitor;
}

bool isOutput(const PulseDevice& device)
{
    return device.kind == PulseDevice::Kind::Sink;
}

}  // namespace

SoundPreferences::SoundPreferences(std::shared_ptr<PulseDevices> devices, std::shared_ptr<OutputVolumeSink> volumeSink,
                                   std::optional<SoundDeviceRecord> record)
    : devices_(std::move(devices)), record_(std::move(record)), volumeSink_(std::move(volumeSink))
{
}

SoundPreferences::~SoundPreferences()
{
    removeAudioOutputVolumeListener();
}

SoundPreferences& SoundPreferences::shared()
{
    // Lives as long as the process: the server's notification thread may call it at any time.
    static auto* instance = [] {
        const auto file = SoundDeviceRecord::defaultPath();
        return new SoundPreferences(std::shared_ptr<PulseDevices>(PulseServerDevices::connect()), nullptr,
                                    file ? std::optional<SoundDeviceRecord>(*file) : std::nullopt);
    }();
    return *instance;
}

void SoundPreferences::setOutputVolumeSink(std::shared_ptr<OutputVolumeSink> volumeSink)
{
    std::lock_guard lock(mutex_);
    volumeSink_ = std::move(volumeSink);
}

std::vector<PulseDevice> SoundPreferences::inputDevices()
{
    auto all = devices_ ? devices_->devices() : std::nullopt;
    std::vector<PulseDevice> inputs;
    if (all)
        std::copy_if(all->begin(), all->end(), std::back_inserter(inputs), isInput);
    return inputs;
}

std::vector<PulseDevice> SoundPreferences::outputDevices()
{
    auto all = devices_ ? devices_->devices() : std::nullopt;
    std::vector<PulseDevice> outputs;
    if (all)
        std::copy_if(all->begin(), all->end(), std::back_inserter(outputs), isOutput);
    return outputs;
}

std::vector<PulseDevice> SoundPreferences::matching(const std::string& name, Kind kind)
{
    auto candidates = kind == Kind::Sink ? outputDevices() : inputDevices();
    std::erase_if(candidates, [&](const PulseDevice& device) { return !matches(device, name); });
    return candidates;
}

std::optional<std::string>& SoundPreferences::saved(Kind kind)
{
    return kind == Kind::Sink ? savedSink_ : savedSource_;
}

void SoundPreferences::remember(Kind kind, const std::string& name)
{
    {
        std::lock_guard lock(mutex_);
        if (saved(kind))
            return;
    }
    auto current = devices_->defaultDevice(kind);
    auto all = devices_->devices();
    if (!current || !all)
        return;
    bool isPattern = std::any_of(all->begin(), all->end(), [&](const PulseDevice& device) {
        return device.kind == kind && device.name == *current && matches(device, name);
    });
    if (isPattern)
        return;
    std::lock_guard lock(mutex_);
    saved(kind) = *current;
}

void SoundPreferences::switchTo(const std::string& name, std::initializer_list<Kind> kinds)
{
    if (!devices_)
        return;
    std::vector<std::pair<Kind, std::vector<PulseDevice>>> found;
    for (Kind kind : kinds) {
        auto devices = matching(name, kind);
        if (devices.empty())
            continue;
        remember(kind, name);
        found.emplace_back(kind, std::move(devices));
    }
    if (found.empty())
        return;
    // On disk before anything changes: a run that ends from here on leaves what the next one repairs.
    record();
    for (const auto& [kind, devices] : found) {
        for (const auto& device : devices) {
            devices_->setDefaultDevice(kind, device.name);
            devices_->setVolume(kind, device.name, 1.0f);
        }
    }
}

void SoundPreferences::record()
{
    if (!record_)
        return;
    SoundDeviceRecord::Devices devices;
    {
        std::lock_guard lock(mutex_);
        devices = {savedSink_, savedSource_};
    }
    if (devices.sink || devices.source)
        record_->save(devices);
    else
        record_->clear();
}

void SoundPreferences::useAudioDeviceForInputAndOutput(const std::string& name)
{
    switchTo(name, {Kind::Sink, Kind::Source});
}

void SoundPreferences::useAudioDeviceForInput(const std::string& name)
{
    switchTo(name, {Kind::Source});
}

void SoundPreferences::restoreMacAudioDevices()
{
    if (!devices_)
        return;
    for (Kind kind : {Kind::Sink, Kind::Source}) {
        std::optional<std::string> previous;
        {
            std::lock_guard lock(mutex_);
            previous.swap(saved(kind));
        }
        if (previous)
            devices_->setDefaultDevice(kind, *previous);
    }
    record();
}

bool SoundPreferences::repairUnrestoredDevices()
{
    const auto left = record_ ? record_->load() : std::nullopt;
    if (!left || !devices_)
        return false;
    if (left->sink)
        devices_->setDefaultDevice(Kind::Sink, *left->sink);
    if (left->source)
        devices_->setDefaultDevice(Kind::Source, *left->source);
    record_->clear();
    PLOG("an earlier run ended with the loopback device as the default; back to sink %s, source %s",
         left->sink.value_or("(unchanged)").c_str(), left->source.value_or("(unchanged)").c_str());
    return true;
}

uint32_t SoundPreferences::defaultOutputDeviceId()
{
    auto name = devices_ ? devices_->defaultDevice(Kind::Sink) : std::nullopt;
    if (!name)
        return 0;
    for (const auto& device : outputDevices())
        if (device.name == *name)
            return device.index;
    return 0;
}

void SoundPreferences::addAudioOutputVolumeListener()
{
    auto name = devices_ ? devices_->defaultDevice(Kind::Sink) : std::nullopt;
    if (name)
        devices_->watchSink(*name, [this] { outputVolumeListener(); });
}

void SoundPreferences::removeAudioOutputVolumeListener()
{
    if (devices_)
        devices_->watchSink({}, nullptr);
}

void SoundPreferences::outputVolumeListener()
{
    auto name = devices_ ? devices_->defaultDevice(Kind::Sink) : std::nullopt;
    auto volume = name ? devices_->volume(Kind::Sink, *name) : std::nullopt;
    if (!volume)
        return;
    auto percent = static_cast<int32_t>(static_cast<double>(*volume) * 100.0);
    std::shared_ptr<OutputVolumeSink> sink;
    {
        std::lock_guard lock(mutex_);
        // Without a sink the value counts as not sent, so the first report after one is installed goes out.
        if (!volumeSink_ || percent == lastVolumeSent_)
            return;
        lastVolumeSent_ = percent;
        sink = volumeSink_;
    }
    // Outside the lock: the sink may take its own locks.
    sink->outputVolumeChanged(percent);
}

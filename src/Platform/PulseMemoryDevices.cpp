#include "Platform/PulseMemoryDevices.h"

#include <algorithm>

void PulseMemoryDevices::addDevice(PulseDevice device)
{
    std::lock_guard lock(mutex_);
    volumes_[{device.kind, device.name}] = 1.0f;
    devices_.push_back(std::move(device));
}

void PulseMemoryDevices::failAll(bool fail)
{
    std::lock_guard lock(mutex_);
    fail_ = fail;
}

void PulseMemoryDevices::changeVolume(Kind kind, const std::string& name, float volume)
{
    Listener listener;
    {
        std::lock_guard lock(mutex_);
        volumes_[{kind, name}] = volume;
        if (kind == Kind::Sink && name == watchedSink_)
            listener = listener_;
    }
    if (listener)
        listener();
}

bool PulseMemoryDevices::exists(Kind kind, const std::string& name) const
{
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const PulseDevice& device) { return device.kind == kind && device.name == name; });
}

std::optional<std::vector<PulseDevice>> PulseMemoryDevices::devices()
{
    std::lock_guard lock(mutex_);
    if (fail_)
        return std::nullopt;
    return devices_;
}

std::optional<std::string> PulseMemoryDevices::defaultDevice(Kind kind)
{
    std::lock_guard lock(mutex_);
    auto found = defaults_.find(kind);
    if (fail_ || found == defaults_.end())
        return std::nullopt;
    return found->second;
}

bool PulseMemoryDevices::setDefaultDevice(Kind kind, const std::string& name)
{
    std::lock_guard lock(mutex_);
    if (fail_ || !exists(kind, name))
        return false;
    defaults_[kind] = name;
    return true;
}

std::optional<float> PulseMemoryDevices::volume(Kind kind, const std::string& name)
{
    std::lock_guard lock(mutex_);
    auto found = volumes_.find({kind, name});
    if (fail_ || found == volumes_.end())
        return std::nullopt;
    return found->second;
}

bool PulseMemoryDevices::setVolume(Kind kind, const std::string& name, float volume)
{
    std::lock_guard lock(mutex_);
    if (fail_ || !exists(kind, name))
        return false;
    volumes_[{kind, name}] = volume;
    return true;
}

bool PulseMemoryDevices::watchSink(const std::string& name, Listener listener)
{
    std::lock_guard lock(mutex_);
    if (fail_ || (listener && !exists(Kind::Sink, name)))
        return false;
    watchedSink_ = listener ? name : std::string();
    listener_ = std::move(listener);
    return true;
}

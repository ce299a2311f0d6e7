#pragma once

#include "Platform/PulseDevice.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The sound server's device services that the audio routing needs: listing devices, reading and
// choosing the default sink and source, volumes, and a watch on one sink's volume. Every call is
// synchronous; a failed call gives nullopt or false.
class PulseDevices {
public:
    using Kind = PulseDevice::Kind;
    using Listener = std::function<void()>;

    virtual ~PulseDevices() = default;

    virtual std::optional<std::vector<PulseDevice>> devices() = 0;
    virtual std::optional<std::string> defaultDevice(Kind kind) = 0;
    virtual bool setDefaultDevice(Kind kind, const std::string& name) = 0;
    // Linear volume, 1.0 being the device's nominal full volume; the loudest channel counts.
    virtual std::optional<float> volume(Kind kind, const std::string& name) = 0;
    virtual bool setVolume(Kind kind, const std::string& name, float volume) = 0;
    // Calls listener, on a thread of the backend's own, after each change of the named sink; one
    // watch at a time, an empty listener ends it. False when the sink cannot be watched.
    virtual bool watchSink(const std::string& name, Listener listener) = 0;
};

#pragma once

#include "Platform/PulseDevices.h"

#include <map>
#include <mutex>
#include <utility>

// A sound server held in memory, for exercising routing logic without a daemon. Devices added
// start at volume 1.0; a change made through changeVolume reaches the watch at once, on the
// caller's thread.
class PulseMemoryDevices final : public PulseDevices {
public:
    void addDevice(PulseDevice device);
    // Makes every later call of this kind fail, as with a broken connection.
    void failAll(bool fail);
    void changeVolume(Kind kind, const std::string& name, float volume);

    std::optional<std::vector<PulseDevice>> devices() override;
    std::optional<std::string> defaultDevice(Kind kind) override;
    bool setDefaultDevice(Kind kind, const std::string& name) override;
    std::optional<float> volume(Kind kind, const std::string& name) override;
    bool setVolume(Kind kind, const std::string& name, float volume) override;
    bool watchSink(const std::string& name, Listener listener) override;

private:
    bool exists(Kind kind, const std::string& name) const;

    std::mutex mutex_;
    std::vector<PulseDevice> devices_;
    std::map<Kind, std::string> defaults_;
    std::map<std::pair<Kind, std::string>, float> volumes_;
    std::string watchedSink_;
    Listener listener_;
    bool fail_ = false;
};

#pragma once

#include "Platform/PulseContext.h"
#include "Platform/PulseDevices.h"
#include "Platform/SerialQueue.h"

#include <memory>
#include <mutex>

// The device services of a running sound server. Watch notifications are handed from the
// server's event thread to the serial queue "PulseNotifications", so a listener may call back in
// (but not change the watch).
class PulseServerDevices final : public PulseDevices {
public:
    // nullptr when no server answers.
    static std::unique_ptr<PulseServerDevices> connect();

    std::optional<std::vector<PulseDevice>> devices() override;
    std::optional<std::string> defaultDevice(Kind kind) override;
    bool setDefaultDevice(Kind kind, const std::string& name) override;
    std::optional<float> volume(Kind kind, const std::string& name) override;
    bool setVolume(Kind kind, const std::string& name, float volume) override;
    bool watchSink(const std::string& name, Listener listener) override;

    // A device looked up by name, with what setting its volume needs.
    struct Found {
        PulseDevice device;
        uint8_t channels = 0;
        float volume = 0;
    };

private:
    explicit PulseServerDevices(std::unique_ptr<PulseContext> context);
    std::optional<Found> find(Kind kind, const std::string& name);
    static void onEvent(pa_context* context, pa_subscription_event_type_t type, uint32_t index, void* user);

    // The listener, shared with queued notifications; held while it runs, so once a watch is ended
    // no call of its listener is running or still to come.
    struct Watch {
        std::mutex mutex;
        Listener listener;
    };

    std::shared_ptr<SerialQueue> notifications_ = SerialQueue::create("PulseNotifications");
    std::shared_ptr<Watch> watch_ = std::make_shared<Watch>();
    bool subscribed_ = false;  // only watchSink's caller touches it
    // Which sink's changes are passed on; read on the event thread.
    std::mutex eventMutex_;
    bool watching_ = false;
    uint32_t watchedIndex_ = 0;
    // Last, so the event thread stops before the watch state above goes away.
    std::unique_ptr<PulseContext> context_;
};

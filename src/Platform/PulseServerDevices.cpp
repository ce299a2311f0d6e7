#include "Platform/PulseServerDevices.h"

#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include <type_traits>

namespace {

// What a request's callbacks collect, and the context to wake when the last item arrived.
template <typename Result>
struct Collect {
    PulseContext* context;
    Result result{};
};

template <typename Info>
PulseDevice deviceOf(const Info* info, PulseDevice::Kind kind)
{
    PulseDevice device;
    device.kind = kind;
    device.index = info->index;
    device.name = info->name ? info->name : "";
    device.description = info->description ? info->description : device.name;
    return device;
}

bool isMonitor(const pa_sink_info*) { return false; }
bool isMonitor(const pa_source_info* info) { return info->monitor_of_sink != PA_INVALID_INDEX; }

// One callback for sink and source lists: appends each device, wakes the caller at the end.
template <typename Info>
void onDeviceInfo(pa_context*, const Info* info, int eol, void* user)
{
    auto* collect = static_cast<Collect<std::vector<PulseDevice>>*>(user);
    if (eol) {
        collect->context->wake();
        return;
    }
    PulseDevice device =
        deviceOf(info, std::is_same_v<Info, pa_sink_info> ? PulseDevice::Kind::Sink : PulseDevice::Kind::Source);
    device.monitor = isMonitor(info);
    collect->result.push_back(std::move(device));
}

void onSuccess(pa_context*, int success, void* user)
{
    auto* collect = static_cast<Collect<bool>*>(user);
    collect->result = success != 0;
    collect->context->wake();
}

void onServerInfo(pa_context*, const pa_server_info* info, void* user)
{
    auto* collect = static_cast<Collect<std::pair<std::string, std::string>>*>(user);
    if (info) {
        collect->result.first = info->default_sink_name ? info->default_sink_name : "";
        collect->result.second = info->default_source_name ? info->default_source_name : "";
    }
    collect->context->wake();
}

template <typename Info>
void onFoundInfo(pa_context*, const Info* info, int eol, void* user)
{
    auto* collect = static_cast<Collect<std::optional<PulseServerDevices::Found>>*>(user);
    if (eol || !info) {
        collect->context->wake();
        return;
    }
    PulseServerDevices::Found found;
    found.device =
        deviceOf(info, std::is_same_v<Info, pa_sink_info> ? PulseDevice::Kind::Sink : PulseDevice::Kind::Source);
    found.channels = info->volume.channels;
    found.volume = static_cast<float>(pa_cvolume_max(&info->volume)) / PA_VOLUME_NORM;
    collect->result = found;
}

}  // namespace

std::unique_ptr<PulseServerDevices> PulseServerDevices::connect()
{
    auto context = PulseContext::connect("PelkorSoundPreferences");
    if (!context)
        return nullptr;
    return std::unique_ptr<PulseServerDevices>(new PulseServerDevices(std::move(context)));
}

PulseServerDevices::PulseServerDevices(std::unique_ptr<PulseContext> context) : context_(std::move(context)) {}

std::optional<std::vector<PulseDevice>> PulseServerDevices::devices()
{
    Collect<std::vector<PulseDevice>> sinks{context_.get()};
    Collect<std::vector<PulseDevice>> sources{context_.get()};
    bool ok = context_->run([&](pa_context* c) {
        return pa_context_get_sink_info_list(c, onDeviceInfo<pa_sink_info>, &sinks);
    }) && context_->run([&](pa_context* c) {
        return pa_context_get_source_info_list(c, onDeviceInfo<pa_source_info>, &sources);
    });
    if (!ok)
        return std::nullopt;
    sinks.result.insert(sinks.result.end(), sources.result.begin(), sources.result.end());
    return sinks.result;
}

std::optional<std::string> PulseServerDevices::defaultDevice(Kind kind)
{
    Collect<std::pair<std::string, std::string>> names{context_.get()};
    if (!context_->run([&](pa_context* c) { return pa_context_get_server_info(c, onServerInfo, &names); }))
        return std::nullopt;
    std::string name = kind == Kind::Sink ? names.result.first : names.result.second;
    if (name.empty())
        return std::nullopt;
    return name;
}

bool PulseServerDevices::setDefaultDevice(Kind kind, const std::string& name)
{
    Collect<bool> done{context_.get()};
    bool ran = context_->run([&](pa_context* c) {
        return kind == Kind::Sink ? pa_context_set_default_sink(c, name.c_str(), onSuccess, &done)
                                  : pa_context_set_default_source(c, name.c_str(), onSuccess, &done);
    });
    return ran && done.result;
}

std::optional<PulseServerDevices::Found> PulseServerDevices::find(Kind kind, const std::string& name)
{
    Collect<std::optional<Found>> collect{context_.get()};
    bool ran = context_->run([&](pa_context* c) {
        return kind == Kind::Sink
                   ? pa_context_get_sink_info_by_name(c, name.c_str(), onFoundInfo<pa_sink_info>, &collect)
                   : pa_context_get_source_info_by_name(c, name.c_str(), onFoundInfo<pa_source_info>, &collect);
    });
    if (!ran)
        return std::nullopt;
    return collect.result;
}

std::optional<float> PulseServerDevices::volume(Kind kind, const std::string& name)
{
    auto found = find(kind, name);
    if (!found)
        return std::nullopt;
    return found->volume;
}

bool PulseServerDevices::setVolume(Kind kind, const std::string& name, float volume)
{
    auto found = find(kind, name);
    if (!found || found->channels == 0)
        return false;
    pa_cvolume levels;
    pa_cvolume_set(&levels, found->channels, static_cast<pa_volume_t>(volume * PA_VOLUME_NORM));
    Collect<bool> done{context_.get()};
    bool ran = context_->run([&](pa_context* c) {
        return kind == Kind::Sink ? pa_context_set_sink_volume_by_name(c, name.c_str(), &levels, onSuccess, &done)
                                  : pa_context_set_source_volume_by_name(c, name.c_str(), &levels, onSuccess, &done);
    });
    return ran && done.result;
}

bool PulseServerDevices::watchSink(const std::string& name, Listener listener)
{
    std::optional<Found> found;
    if (listener) {
        found = find(Kind::Sink, name);
        // Not under a lock of ours: the event thread takes eventMutex_ while the subscription is answered.
        if (found && !subscribed_)
            subscribed_ = context_->subscribe(PA_SUBSCRIPTION_MASK_SINK, onEvent, this);
        if (!found || !subscribed_)
            return false;
    }
    {
        std::lock_guard lock(eventMutex_);
        watching_ = found.has_value();
        watchedIndex_ = found ? found->device.index : 0;
    }
    std::lock_guard lock(watch_->mutex);
    watch_->listener = std::move(listener);
    return true;
}

void PulseServerDevices::onEvent(pa_context*, pa_subscription_event_type_t type, uint32_t index, void* user)
{
    auto* self = static_cast<PulseServerDevices*>(user);
    bool sinkChange = (type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SINK
                      && (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_CHANGE;
    std::lock_guard lock(self->eventMutex_);
    if (!sinkChange || !self->watching_ || index != self->watchedIndex_)
        return;
    self->notifications_->async([watch = self->watch_] {
        std::lock_guard held(watch->mutex);
        if (watch->listener)
            watch->listener();
    });
}

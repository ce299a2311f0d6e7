#include "Platform/Permissions.h"

#include "Platform/DisplaySession.h"
#include "Platform/PulseServerDevices.h"
#include "Platform/X11Display.h"
#include "Utils/Log.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

constexpr std::array<const char*, 4> kPrivacyPages = {"input monitoring", "microphone", "screen recording",
                                                      "accessibility"};

bool nonEmpty(const std::optional<std::string>& value)
{
    return value && !value->empty();
}

} // namespace

Permissions::Probes Permissions::Probes::system()
{
    Probes probes;
    probes.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    probes.openDisplay = [](const std::string& name) -> std::optional<DisplayTraits> {
        const std::unique_ptr<X11Display> display = X11Display::open(name);
        return display ? std::optional<DisplayTraits>(DisplayTraits{display->hasXTest()}) : std::nullopt;
    };
    probes.soundServer = []() -> std::unique_ptr<PulseDevices> { return PulseServerDevices::connect(); };
    probes.waylandGrant = [](PortalGrants::Grant grant, bool ask) {
        const PortalGrants grants;
        return ask ? grants.ask(grant) : grants.granted(grant);
    };
    return probes;
}

Permissions::Permissions(Probes probes) : probes_(std::move(probes)) {}

void Permissions::openPrivacySetting(int32_t index) const
{
    if (index < 0 || static_cast<size_t>(index) >= kPrivacyPages.size()) {
        return;
    }
    PLOG("no privacy settings page for %s on this system", kPrivacyPages[static_cast<size_t>(index)]);
}

bool Permissions::wayland() const
{
    return DisplaySession::from(probes_.environment) == DisplaySession::Kind::kWayland;
}

std::optional<std::string> Permissions::x11Display(const char* purpose) const
{
    if (wayland()) {
        PLOG("%s: unavailable in a Wayland session", purpose);
        return std::nullopt;
    }
    std::optional<std::string> display = probes_.environment("DISPLAY");
    if (!nonEmpty(display)) {
        PLOG("%s: no X display (DISPLAY is not set)", purpose);
        return std::nullopt;
    }
    return display;
}

bool Permissions::canRecordScreenPermissions() const
{
    if (wayland())
        return probes_.waylandGrant && probes_.waylandGrant(PortalGrants::Grant::kScreen, false);
    const std::optional<std::string> name = x11Display("screen capture");
    return name && probes_.openDisplay(*name).has_value();
}

bool Permissions::canAccessibilityPermissions() const
{
    if (wayland())
        return probes_.waylandGrant && probes_.waylandGrant(PortalGrants::Grant::kInput, false);
    const std::optional<std::string> name = x11Display("input posting");
    if (!name) {
        return false;
    }
    const std::optional<Probes::DisplayTraits> traits = probes_.openDisplay(*name);
    if (traits && !traits->hasXTest) {
        PLOG("input posting: X display %s has no XTest extension", name->c_str());
    }
    return traits && traits->hasXTest;
}

int64_t Permissions::canMicrophonePermissions() const
{
    const std::unique_ptr<PulseDevices> server = probes_.soundServer();
    if (!server) {
        return kMicrophoneNotDetermined;
    }
    const std::optional<std::vector<PulseDevice>> devices = server->devices();
    if (!devices) {
        PLOG("sound recording: the sound server does not list its devices");
        return kMicrophoneNotDetermined;
    }
    const bool hasSource = std::any_of(devices->begin(), devices->end(), [](const PulseDevice& device) {
        return device.kind == PulseDevice::Kind::Source && !device.monitor;
    });
    if (!hasSource) {
        PLOG("sound recording: the sound server has no capture source");
    }
    return hasSource ? kMicrophoneAuthorized : kMicrophoneDenied;
}

void Permissions::requestScreenRecordingPermissions() const
{
    if (wayland() && probes_.waylandGrant) {
        probes_.waylandGrant(PortalGrants::Grant::kScreen, true);
        return;
    }
    PLOG("screen capture needs no consent here: nothing to request");
}

void Permissions::requestMicrophonePermissions(const std::function<void(bool granted)>& done) const
{
    PLOG("sound recording needs no consent here: answering with the check");
    done(canMicrophonePermissions() == kMicrophoneAuthorized);
}

void Permissions::requestAccessibilityPermissions() const
{
    if (wayland() && probes_.waylandGrant) {
        probes_.waylandGrant(PortalGrants::Grant::kInput, true);
        return;
    }
    PLOG("input posting needs no consent here: nothing to request");
}

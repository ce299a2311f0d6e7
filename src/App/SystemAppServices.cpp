#include "App/SystemAppServices.h"

#include "FileShare/FileServer.h"
#include "Media/SoundPreferences.h"
#include "Socket/TCPManager.h"
#include "Utils/AppInfo.h"
#include "Utils/Log.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

namespace {

// The shared-file server, bound on first use to the link's current key, so a shared copy is
// encrypted exactly when the session has one.
FileServer& sharedFileServer()
{
    static FileServer& server = [] () -> FileServer& {
        FileServer& made = FileServer::sharedManager();
        made.setSessionKeyProvider([] { return TCPManager::sharedManager().aesKey(); });
        return made;
    }();
    return server;
}

void clearSharedFolder()
{
    sharedFileServer().clear();
}

} // namespace

AppDelegate::Services SystemAppServices::make()
{
    AppDelegate::Services services;
    services.drivers = std::make_shared<CheckVirtualDrivers>();
    services.clearSharedFolder = clearSharedFolder;
    services.resetPermissionGrants = [] { PLOG("no per-application grants to reset on this system"); };
    services.restoreAudioDevices = [] { SoundPreferences::shared().restoreMacAudioDevices(); };
    services.repairAudioDevices = [] { SoundPreferences::shared().repairUnrestoredDevices(); };
    services.session.restoreAudioDevices = services.restoreAudioDevices;
    services.session.clearSharedFolder = clearSharedFolder;
    // The file panel copies through the bound server only.
    services.session.fileServer = &sharedFileServer();
    services.session.routeAudioToLoopback = [] {
        SoundPreferences::shared().useAudioDeviceForInputAndOutput(kLoopbackDevice);
    };
    services.session.tvPort = tvPort(std::getenv(kTvPortVariable));
    if (AppInfo::main().enableROZI())
        services.session.roziPort = kRoziPort;
    if (!discoveryRuns(std::getenv(kDiscoveryVariable))) {
        PLOG("%s=off: no discovery runs", kDiscoveryVariable);
        services.session.discovery = std::nullopt;
    }
    services.executableName = AppInfo::main().bundleExecutable();
    return services;
}

uint16_t SystemAppServices::tvPort(const char* value)
{
    if (value == nullptr || *value == '\0')
        return kTvPort;
    const std::string_view text(value);
    unsigned port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port == 0 || port > 65'535) {
        PLOG("%s=%s is not a port; the TV's port stays %u", kTvPortVariable, value, unsigned{kTvPort});
        return kTvPort;
    }
    PLOG("the TV's port is %u", port);
    return static_cast<uint16_t>(port);
}

bool SystemAppServices::discoveryRuns(const char* value)
{
    return value == nullptr || std::string_view(value) != "off";
}

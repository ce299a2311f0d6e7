#include "UI/SystemAppServices.h"

#include "FileShare/FileServer.h"
#include "Media/SoundPreferences.h"
#include "Socket/TCPManager.h"
#include "Utils/AppInfo.h"
#include "Utils/Log.h"

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
    services.session.clearSharedFolder = clearSharedFolder;
    services.session.routeAudioToLoopback = [] {
        SoundPreferences::shared().useAudioDeviceForInputAndOutput(kLoopbackDevice);
    };
    services.executableName = AppInfo::main().bundleExecutable();
    return services;
}

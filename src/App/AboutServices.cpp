#include "App/AboutServices.h"

#include "Platform/CurlHttpClient.h"
#include "Platform/NetworkReachability.h"
#include "App/SingletonApp.h"
#include "Update/UpdateRestart.h"
#include "Utils/AppInfo.h"
#include "Utils/Log.h"
#include "Utils/VXUserDefaultManager.h"


AboutWindowController::Services AboutServices::forApplication(const AppInfo& info, std::function<void()> terminate)
{
    AboutWindowController::Services services;
    services.http = std::make_shared<CurlHttpClient>();
    services.runningVersion = info.shortVersionString();
    services.temporaryFolder = std::filesystem::temp_directory_path();
    if (!info.updateHost().empty()) {
        services.serviceURL = UpdateOffer::queryURL(info.updateHost(), info.updatePort(), info.updatePath());
        // The service's own host is the one whose reachability matters.
        services.reachability = NetworkReachability::reachabilityWithHostName(info.updateHost());
    }
    services.removeRecordingSetting = [] {
        VXUserDefaultManager::sharedManager().removeObjectForKey(kRecordingPermissionsKey);
    };
    services.unsingletonApp = [] { SingletonApp::unsingletonApp(); };
    services.singletonApp = [] {
        if (!SingletonApp::cansingletonApp())
            PLOG("the single-instance lock was taken meanwhile: another copy may start");
    };
    services.rebootApp = [executable = info.bundleExecutable()](const std::filesystem::path& newApplication) {
        // Waited for: a copy still running when the process ends would leave half an installation.
        return UpdateRestart::run(
            UpdateRestart::commands(newApplication, UpdateRestart::runningInstallation(), executable));
    };
    services.terminate = std::move(terminate);
    return services;
}

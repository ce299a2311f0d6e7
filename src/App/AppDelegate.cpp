#include "App/AppDelegate.h"

#include "App/AppShellView.h"
#include "Platform/FixedWidthQueue.h"
#include "Utils/LocalizedText.h"
#include "Utils/Log.h"

#include <cassert>
#include <utility>

namespace {

bool allCurrent(const CheckVirtualDrivers& drivers)
{
    return drivers.hasSpeaker() && drivers.hasMicrophone() && drivers.hasCamera();
}

} // namespace

AppDelegate::AppDelegate(AppShellView& shell, Services services) : shell_(shell), services_(std::move(services))
{
    assert(mainThread_.holds());
    assert(services_.drivers && "the delegate checks the drivers it is given");
    if (!services_.runInBackground)
        services_.runInBackground = [](std::function<void()> work) { FixedWidthQueue::blockingCalls()->async(std::move(work)); };
}

AppDelegate::~AppDelegate()
{
    assert(mainThread_.holds());
}

void AppDelegate::applicationDidFinishLaunching()
{
    assert(mainThread_.holds());
    if (services_.repairAudioDevices)
        services_.repairAudioDevices();
    if (services_.clearSharedFolder)
        services_.clearSharedFolder();
    shell_.installStatusItem(LocalizedText::text("STRING_QUIT") + services_.executableName);
    // permissions() runs first, for its reset, even when a driver is missing.
    showsMainWindow_ = permissions() && driversCurrent();
    if (showsMainWindow_) {
        SessionServices session = services_.session;
        if (auto route = std::move(session.routeAudioToLoopback)) {
            session.routeAudioToLoopback = [this, route = std::move(route)] {
                route();
                audioSwitched_ = true;
            };
        }
        shell_.showMainWindow(std::move(session));
    } else {
        if (!driversCurrent()) {
            services_.runInBackground([drivers = services_.drivers] {
                if (!allCurrent(*drivers))
                    drivers->installPlugin();
            });
        }
        shell_.showPermissionsWindow(services_.permissions);
    }
    shell_.activate();
    PLOG("launched with the %s window", showsMainWindow_ ? "main" : "permissions");
}

bool AppDelegate::permissions()
{
    assert(mainThread_.holds());
    const Permissions& granted = services_.permissions;
    if (granted.canAccessibilityPermissions() && granted.canRecordScreenPermissions() &&
        granted.canMicrophonePermissions() == Permissions::kMicrophoneAuthorized)
        return true;
    if (services_.resetPermissionGrants)
        services_.resetPermissionGrants();
    return false;
}

bool AppDelegate::driversCurrent() const
{
    return allCurrent(*services_.drivers);
}

void AppDelegate::applicationWillTerminate()
{
    assert(mainThread_.holds());
    if (services_.clearSharedFolder)
        services_.clearSharedFolder();
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed()
{
    assert(mainThread_.holds());
    restoreAndClear();
    return true;
}

void AppDelegate::quitPelkor()
{
    assert(mainThread_.holds());
    restoreAndClear();
    shell_.terminate();
}

void AppDelegate::terminationSignal(int signal)
{
    PLOG("signal %d: quitting", signal);
    quitPelkor();
}

void AppDelegate::restoreAndClear()
{
    // Only the devices this run switched go back: a run that never routed the sound leaves the user's
    // choice alone.
    if (audioSwitched_ && services_.restoreAudioDevices) {
        services_.restoreAudioDevices();
        audioSwitched_ = false;
    }
    if (services_.clearSharedFolder)
        services_.clearSharedFolder();
}

#pragma once

#include "Media/CheckVirtualDrivers.h"
#include "Platform/Permissions.h"
#include "Session/SessionServices.h"
#include "Utils/ThreadAffinity.h"

#include <functional>
#include <memory>
#include <string>

class AppShellView;

// The application's delegate: prepares the shared folder, installs the status item, checks the
// permissions and the drivers, shows either the main window or the permissions window, and walks the
// application's ends (the quit entry, the last window closed, a termination signal).
//
// Threads: made, used and destroyed on the main thread (asserted); only the driver installation runs
// on the global queue, touching the driver checker alone.
class AppDelegate {
public:
    struct Services {
        // Checks the drivers when it is made; shared with the installation, which may outlive the delegate.
        std::shared_ptr<CheckVirtualDrivers> drivers;
        Permissions permissions;
        // Empties the shared folder; the first call makes the shared-file server and starts it.
        std::function<void()> clearSharedFolder;
        // Stands in for withdrawing the screen-capture and accessibility grants, which this system
        // does not keep per application.
        std::function<void()> resetPermissionGrants;
        // Puts the sound devices back as they were before routeAudioToLoopback switched them.
        std::function<void()> restoreAudioDevices;
        // Puts back the devices an earlier run left recorded because it ended while they were switched;
        // run first at launch.
        std::function<void()> repairAudioDevices;
        // The main window's session; its routeAudioToLoopback is the switch restoreAudioDevices undoes
        // (the session's own restore does so at each cast's end, this one on the quit road).
        SessionServices session;
        // The executable's name, put after the quit entry's title.
        std::string executableName;
        // Runs the driver installation away from the main thread; empty: the global queue.
        std::function<void(std::function<void()>)> runInBackground;
    };

    AppDelegate(AppShellView& shell, Services services);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Repairs the sound devices of an earlier run, prepares the shared folder, the status item, then the
    // run's window, then activates.
    void applicationDidFinishLaunching();
    // Accessibility, screen capture and microphone all granted (tested in that order). When one is
    // missing the grants are reset, so the system asks again.
    bool permissions();
    // Every termination: empties the shared folder once more.
    void applicationWillTerminate();
    // The last window closed: the quit road's restore and clearing; the application then ends.
    bool applicationShouldTerminateAfterLastWindowClosed();
    // The quit entry: restore, clearing, then the application ends.
    void quitPelkor();
    // SIGINT or SIGTERM, delivered on the main thread: the quit road, ending with status 0.
    void terminationSignal(int signal);

    // Whether this run shows the main window; fixed by applicationDidFinishLaunching.
    bool showsMainWindow() const { return showsMainWindow_; }
    const CheckVirtualDrivers& drivers() const { return *services_.drivers; }

private:
    bool driversCurrent() const;
    // The restore of the sound devices (when this run switched them) and the clearing of the folder.
    void restoreAndClear();

    AppShellView& shell_;
    Services services_;
    ThreadAffinity mainThread_;
    bool showsMainWindow_ = false;
    // Set once the main window's controller has routed the sound to the loopback device.
    bool audioSwitched_ = false;
};

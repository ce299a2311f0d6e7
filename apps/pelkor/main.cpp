// The application: one copy per user, its windows on Qt, the main queue served by the Qt event loop.

#include "Platform/DescriptorLimit.h"
#include "Platform/MainQueue.h"
#include "App/LaunchChannel.h"
#include "App/SingletonApp.h"
#include "App/SystemAppServices.h"
#include "UI/Qt/AppShell.h"
#include "UI/Qt/QtMainLoop.h"

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

bool isSet(const char* variable)
{
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0';
}

// Qt aborts when it finds no display; say so plainly instead.
bool hasDisplay()
{
    return isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
}

} // namespace

int main(int argc, char** argv)
{
    const auto channel = LaunchChannel::channelPath();
    // A copy is running already: it comes to the front, this one leaves at once and changes nothing.
    if (!SingletonApp::cansingletonApp()) {
        if (channel)
            LaunchChannel::tell(*channel);
        return 0;
    }
    // A peer that goes away mid-write is an error of that write, never the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
    // Local processes and the TV can open many connections; the soft limit alone is soon used up.
    DescriptorLimit::raiseToHardLimit();
    if (!hasDisplay()) {
        std::fprintf(stderr, "pelkor: no display (DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM must be set)\n");
        return 1;
    }
    QApplication application(argc, argv);
    const auto loop = std::make_shared<QtMainLoop>();
    MainQueue::install(loop);
    int status = 0;
    {
        AppShell shell(SystemAppServices::make());
        shell.start();
        // A later launch brings this copy's window to the front.
        const auto launches =
            channel ? LaunchChannel::listen(*channel, MainQueue::shared(), [&shell] { shell.activate(); }) : nullptr;
        status = QApplication::exec();
    }
    loop->close();
    return status;
}

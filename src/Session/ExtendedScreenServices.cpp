#include "Session/ExtendedScreenServices.h"

#include "Platform/DisplaySession.h"
#include "Platform/MainQueue.h"
#include "Platform/PortalVirtualDisplay.h"
#include "Platform/SwayHeadlessDisplay.h"
#include "Platform/WaylandCapture.h"
#include "Platform/X11DisplayChangeSource.h"
#include "Platform/X11VirtualDisplay.h"

namespace {

// A Wayland desktop gives an extended screen as the compositor's headless output where it makes one
// (sway), or as its portal's virtual source.
ExtendedScreenServices::Made waylandExtendedScreen()
{
    SwayHeadlessDisplay::Created headless = SwayHeadlessDisplay::create();
    if (headless.display)
        return {std::move(headless.display), {}};
    if (!WaylandCapture::offer().virtualScreen)
        return {nullptr, headless.refusal + "; and this desktop's screen-cast portal offers no virtual screen"};
    const auto main = WaylandCapture::mainDisplay();
    if (!main)
        return {nullptr, "the Wayland compositor shows no output"};
    return {std::make_unique<PortalVirtualDisplay>(main->id, main->frame), {}};
}

} // namespace

ExtendedScreenServices ExtendedScreenServices::withDefaults() const
{
    ExtendedScreenServices services = *this;
    const bool wayland = DisplaySession::current() == DisplaySession::Kind::kWayland;
    if (!services.createDisplay && wayland)
        services.createDisplay = waylandExtendedScreen;
    if (!services.watchDisplayChanges && wayland)
        services.watchDisplayChanges = [](std::function<void()>) -> std::shared_ptr<void> { return nullptr; };
    if (!services.createDisplay)
        services.createDisplay = [] {
            X11VirtualDisplay::Created created = X11VirtualDisplay::create();
            return Made{std::move(created.display), std::move(created.refusal)};
        };
    if (!services.watchDisplayChanges)
        services.watchDisplayChanges = [](std::function<void()> changed) -> std::shared_ptr<void> {
            return X11DisplayChangeSource::create(MainQueue::shared(), std::move(changed));
        };
    return services;
}

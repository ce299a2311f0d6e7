#include "Session/ExtendedScreenServices.h"

#include "Platform/MainQueue.h"
#include "Platform/X11DisplayChangeSource.h"
#include "Platform/X11VirtualDisplay.h"

ExtendedScreenServices ExtendedScreenServices::withDefaults() const
{
    ExtendedScreenServices services = *this;
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

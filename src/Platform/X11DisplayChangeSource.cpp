#include "Platform/X11DisplayChangeSource.h"

#include "Platform/DispatchSource.h"
#include "Platform/X11Display.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cassert>

// Lives until the source's cancel handler, which closes the connection: the descriptor must stay
// open while the reactor may still watch it.
struct X11DisplayChangeSource::Watch {
    std::unique_ptr<X11Display> display;
    int eventBase = 0;
    Handler handler;
    // Set once the source exists; the event handler suspends it when the connection is gone.
    DispatchSource* source = nullptr;

    // The source's queue.
    void drain()
    {
        Display* connection = display->handle();
        bool changed = false;
        while (!display->lost() && XPending(connection) > 0) {
            XEvent event;
            XNextEvent(connection, &event);
            if (event.type == eventBase + RRScreenChangeNotify || event.type == eventBase + RRNotify) {
                XRRUpdateConfiguration(&event);
                changed = true;
            }
        }
        // A broken connection stays readable: without the suspension this would spin.
        if (display->lost())
            source->suspend();
        if (changed)
            handler();
    }
};

std::unique_ptr<X11DisplayChangeSource> X11DisplayChangeSource::create(std::shared_ptr<DispatchQueue> queue,
                                                                       Handler handler, const std::string& displayName)
{
    auto watch = std::make_shared<Watch>();
    watch->display = X11Display::open(displayName);
    if (!watch->display)
        return nullptr;
    int errorBase = 0;
    if (!watch->display->hasRandr() || !XRRQueryExtension(watch->display->handle(), &watch->eventBase, &errorBase)) {
        PLOG("display changes are not told: the X server has no RandR");
        return nullptr;
    }
    watch->handler = std::move(handler);
    Display* connection = watch->display->handle();
    XRRSelectInput(connection, watch->display->root(),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    XFlush(connection);
    auto source = DispatchSource::create(
        ConnectionNumber(connection), DispatchSource::Kind::Read, queue, [watch] { watch->drain(); },
        [watch] { watch->display.reset(); });
    if (!source)
        return nullptr;
    watch->source = source.get();
    source->resume();
    return std::unique_ptr<X11DisplayChangeSource>(new X11DisplayChangeSource(std::move(queue), std::move(source)));
}

X11DisplayChangeSource::X11DisplayChangeSource(std::shared_ptr<DispatchQueue> queue, std::unique_ptr<DispatchSource> source)
    : queue_(std::move(queue)), source_(std::move(source))
{
}

X11DisplayChangeSource::~X11DisplayChangeSource()
{
    // A call running on another thread could still reach the source through the watch.
    assert(queue_->isCurrent());
    source_->cancel();
}

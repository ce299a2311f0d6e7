#include "Platform/X11DisplayChangeSource.h"

#include "Platform/DispatchSource.h"
#include "Platform/X11Display.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <fcntl.h>
#include <unistd.h>

#include <cassert>

// Lives until the source's cancel handler. The source watches a duplicate of the connection's
// descriptor, which stays open until then, so the connection itself may close earlier.
struct X11DisplayChangeSource::Watch {
    std::unique_ptr<X11Display> display;
    int watched = -1;
    int eventBase = 0;
    Handler handler;
    // Set once the source exists; the event handler suspends it when the connection is gone.
    DispatchSource* source = nullptr;

    // The source's queue.
    void drain()
    {
        if (!display)
            return;
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
        // A broken connection stays readable: without the suspension this would spin. It is closed on
        // the thread that met the failure: libX11 may still hold its lock for this thread (a queue's
        // calls may run on different threads), and a close from another thread would wait forever.
        if (display->lost()) {
            source->suspend();
            display.reset();
        }
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
    watch->watched = ::fcntl(ConnectionNumber(connection), F_DUPFD_CLOEXEC, 0);
    if (watch->watched < 0) {
        PLOG_ERRNO("display changes are not told: dup");
        return nullptr;
    }
    auto source = DispatchSource::create(
        watch->watched, DispatchSource::Kind::Read, queue, [watch] { watch->drain(); },
        [watch] {
            ::close(watch->watched);
            watch->display.reset();
        });
    if (!source) {
        ::close(watch->watched);
        return nullptr;
    }
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

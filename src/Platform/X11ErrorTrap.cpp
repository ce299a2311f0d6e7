#include "Platform/X11ErrorTrap.h"

#include <X11/Xlib.h>

#include <atomic>

namespace {

// Written under gTrapMutex. Atomic because the handler also runs for errors of other connections,
// on the threads that use those, which hold no lock.
std::recursive_mutex gTrapMutex;
// The innermost trap's connection and where its first error goes.
std::atomic<Display*> gTrapDisplay{nullptr};
std::atomic<X11ErrorTrap::Error*> gTrapSink{nullptr};
std::atomic<XErrorHandler> gPreviousHandler{nullptr};

int onError(Display* display, XErrorEvent* event)
{
    // Only the trap's own thread handles its connection's errors, so the sink is stable here.
    if (display == gTrapDisplay.load()) {
        X11ErrorTrap::Error* sink = gTrapSink.load();
        if (sink->code == 0) {
            *sink = {event->error_code, event->request_code, event->minor_code};
        }
        return 0;
    }
    const XErrorHandler previous = gPreviousHandler.load();
    return previous != nullptr ? previous(display, event) : 0;
}

// Every request so far has been answered: the last one had a reply, which the server sends after the
// errors of every request before it. Waiting for the server would then learn nothing new.
bool settled(Display* display)
{
    return LastKnownRequestProcessed(display) + 1 == NextRequest(display);
}

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* display)
    : lock_(gTrapMutex), display_(display), outerDisplay_(gTrapDisplay), outerSink_(gTrapSink)
{
    if (outerDisplay_ == nullptr) {
        gPreviousHandler = XSetErrorHandler(onError);
    }
    gTrapDisplay = display_;
    gTrapSink = &error_;
}

X11ErrorTrap::~X11ErrorTrap()
{
    if (!settled(display_)) {
        XSync(display_, False);
    }
    gTrapDisplay = outerDisplay_;
    gTrapSink = outerSink_;
    if (outerDisplay_ == nullptr) {
        XSetErrorHandler(gPreviousHandler.exchange(nullptr));
    }
}

const X11ErrorTrap::Error& X11ErrorTrap::sync()
{
    if (!settled(display_)) {
        XSync(display_, False);
    }
    return error_;
}

#include "Platform/X11ErrorTrap.h"

#include <X11/Xlib.h>

#include <map>
#include <mutex>

namespace {

// What the traps of one connection share: the lock its traps take turns on, and where its innermost
// trap's first error goes.
struct Connection {
    std::recursive_mutex turn;
    X11ErrorTrap::Error* sink = nullptr;
    int traps = 0;
};

// The connections under a trap, by display, and the handler ours replaced while any trap lives.
// Held only for look-ups and the handler's exchange, never across a request, so the traps of
// different connections never wait for each other.
std::mutex gRegistryMutex;
std::map<Display*, Connection>& registry()
{
    static std::map<Display*, Connection> connections;
    return connections;
}
int gTraps = 0;
XErrorHandler gPreviousHandler = nullptr;

int onError(Display* display, XErrorEvent* event)
{
    XErrorHandler previous = nullptr;
    {
        // Only the thread that holds the connection's turn handles its errors, so the sink is stable.
        std::lock_guard lock(gRegistryMutex);
        const auto found = registry().find(display);
        if (found != registry().end() && found->second.sink != nullptr) {
            X11ErrorTrap::Error& sink = *found->second.sink;
            if (sink.code == 0)
                sink = {event->error_code, event->request_code, event->minor_code};
            return 0;
        }
        previous = gPreviousHandler;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

// Counts the trap in, installing our handler with the first of all traps; the connection's turn.
std::recursive_mutex& enter(Display* display)
{
    std::lock_guard lock(gRegistryMutex);
    if (gTraps++ == 0)
        gPreviousHandler = XSetErrorHandler(onError);
    Connection& connection = registry()[display];
    ++connection.traps;
    return connection.turn;
}

// Every request so far has been answered: the last one had a reply, which the server sends after the
// errors of every request before it. Waiting for the server would then learn nothing new.
bool settled(Display* display)
{
    return LastKnownRequestProcessed(display) + 1 == NextRequest(display);
}

} // namespace

X11ErrorTrap::X11ErrorTrap(_XDisplay* display) : lock_(enter(display)), display_(display)
{
    std::lock_guard lock(gRegistryMutex);
    Connection& connection = registry()[display_];
    outerSink_ = connection.sink;
    connection.sink = &error_;
}

X11ErrorTrap::~X11ErrorTrap()
{
    if (!settled(display_))
        XSync(display_, False);
    std::lock_guard lock(gRegistryMutex);
    Connection& connection = registry()[display_];
    connection.sink = outerSink_;
    // Unlocked before the entry goes with the last trap; no other thread waits on a turn whose count
    // is about to reach zero, since a waiter counts itself first.
    lock_.unlock();
    if (--connection.traps == 0)
        registry().erase(display_);
    if (--gTraps == 0)
        XSetErrorHandler(gPreviousHandler);
}

const X11ErrorTrap::Error& X11ErrorTrap::sync()
{
    if (!settled(display_))
        XSync(display_, False);
    return error_;
}

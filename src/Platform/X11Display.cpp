#include "Platform/X11Display.h"

#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/XTest.h>

#include <cstdlib>
#include <mutex>

namespace {

// Xlib's own handler ends the process when a connection breaks. Returning from this one lets the
// display's exit handler mark the connection lost instead.
int onIoError(Display* display)
{
    PLOG("X connection to %s broken", DisplayString(display));
    return 0;
}

} // namespace

std::unique_ptr<X11Display> X11Display::open(const std::string& name)
{
    const char* envName = std::getenv("DISPLAY");
    const std::string target = name.empty() ? (envName != nullptr ? envName : "") : name;
    if (target.empty()) {
        PLOG("no X display: DISPLAY is not set");
        return nullptr;
    }
    static std::once_flag ioHandlerOnce;
    std::call_once(ioHandlerOnce, [] { XSetIOErrorHandler(onIoError); });
    Display* display = XOpenDisplay(target.c_str());
    if (display == nullptr) {
        PLOG("cannot open X display %s", target.c_str());
        return nullptr;
    }
    std::unique_ptr<X11Display> opened(new X11Display(display, target));
    XSetIOErrorExitHandler(display, &X11Display::onConnectionLost, opened.get());
    opened->queryExtensions();
    return opened;
}

X11Display::X11Display(_XDisplay* display, std::string name) : display_(display), name_(std::move(name))
{
    root_ = DefaultRootWindow(display_);
}

X11Display::~X11Display()
{
    XCloseDisplay(display_);
}

void X11Display::queryExtensions()
{
    hasShm_ = XShmQueryExtension(display_) != False;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    // Naming a window's pixmap needs Composite 0.2.
    if (XCompositeQueryExtension(display_, &eventBase, &errorBase) != False
        && XCompositeQueryVersion(display_, &major, &minor) != 0) {
        hasComposite_ = major > 0 || minor >= 2;
    }
    // XFixes refuses every request until the client has stated its version.
    if (XFixesQueryExtension(display_, &eventBase, &errorBase) != False) {
        major = 2;
        minor = 0;
        hasFixes_ = XFixesQueryVersion(display_, &major, &minor) != 0 && major >= 1;
    }
    // Current screen resources and the primary output need RandR 1.3. libXrandr keeps the record it
    // makes for a server without RandR past the connection's end, so the core protocol asks first.
    int opcode = 0;
    if (XQueryExtension(display_, "RANDR", &opcode, &eventBase, &errorBase) != False
        && XRRQueryExtension(display_, &eventBase, &errorBase) != False
        && XRRQueryVersion(display_, &major, &minor) != 0) {
        hasRandr_ = major > 1 || (major == 1 && minor >= 3);
        hasRandrMonitors_ = major > 1 || (major == 1 && minor >= 5);
    }
    hasXTest_ = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) != False;
    PLOG("X display %s: MIT-SHM %d, Composite %d, XFixes %d, RandR %d, XTest %d", name_.c_str(), hasShm_,
         hasComposite_, hasFixes_, hasRandr_, hasXTest_);
}

void X11Display::onConnectionLost(_XDisplay* /*display*/, void* self)
{
    auto* owner = static_cast<X11Display*>(self);
    if (!owner->lost_.exchange(true)) {
        PLOG("X display %s lost", owner->name_.c_str());
    }
}

std::optional<X11Display::Geometry> X11Display::geometry(unsigned long drawable, int* error) const
{
    Window root = 0;
    int x = 0;
    int y = 0;
    Geometry geometry;
    X11ErrorTrap trap(display_);
    const Status status = XGetGeometry(display_, drawable, &root, &x, &y, &geometry.width, &geometry.height, &geometry.border,
                                       &geometry.depth);
    const int code = trap.sync().code;
    if (error != nullptr) {
        *error = code;
    }
    if (status == 0 || code != 0) {
        return std::nullopt;
    }
    return geometry;
}

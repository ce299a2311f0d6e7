#include "Platform/X11WindowActivation.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// Source indication of a _NET_ACTIVE_WINDOW request: a direct action of the user.
constexpr long kUserAction = 2;

// Whether the window manager says it takes _NET_ACTIVE_WINDOW requests.
bool managerActivates(Display* display, Window root)
{
    const Atom supported = XInternAtom(display, "_NET_SUPPORTED", False);
    const Atom activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // A manager announces a few hundred atoms at most.
    constexpr long kMaxAtoms = 4096;
    if (XGetWindowProperty(display, root, supported, 0, kMaxAtoms, False, XA_ATOM, &type, &format, &count, &remaining,
                           &data)
            != Success
        || data == nullptr)
        return false;
    bool found = false;
    if (type == XA_ATOM && format == 32) {
        const auto* atoms = reinterpret_cast<const unsigned long*>(data);
        for (unsigned long i = 0; i < count && !found; ++i)
            found = atoms[i] == activeWindow;
    }
    XFree(data);
    return found;
}

} // namespace

bool X11WindowActivation::activate(uint32_t window, const std::string& displayName)
{
    const auto display = X11Display::open(displayName);
    if (!display)
        return false;
    Display* handle = display->handle();
    X11ErrorTrap trap(handle);
    if (managerActivates(handle, display->root())) {
        XEvent request{};
        request.xclient.type = ClientMessage;
        request.xclient.window = window;
        request.xclient.message_type = XInternAtom(handle, "_NET_ACTIVE_WINDOW", False);
        request.xclient.format = 32;
        request.xclient.data.l[0] = kUserAction;
        request.xclient.data.l[1] = CurrentTime;
        XSendEvent(handle, display->root(), False, SubstructureRedirectMask | SubstructureNotifyMask, &request);
    } else {
        XRaiseWindow(handle, window);
        XSetInputFocus(handle, window, RevertToParent, CurrentTime);
    }
    return trap.sync().code == 0;
}

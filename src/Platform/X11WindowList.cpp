#include "Platform/X11WindowList.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <iterator>
#include <memory>

namespace {

// Property reads stop here: a window name or a client list is far smaller.
constexpr long kMaxPropertyLongs = 65536;

struct XFreeDeleter {
    void operator()(void* data) const
    {
        if (data != nullptr) {
            XFree(data);
        }
    }
};

// A property of the given type and format; its bytes and item count, or nothing.
struct Property {
    std::unique_ptr<unsigned char, XFreeDeleter> data;
    unsigned long items = 0;
};

Property readProperty(Display* display, Window window, Atom name, Atom type, int format)
{
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long items = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    Property property;
    if (XGetWindowProperty(display, window, name, 0, kMaxPropertyLongs, False, type, &actualType, &actualFormat,
                           &items, &remaining, &data)
        != Success) {
        return property;
    }
    property.data.reset(data);
    if (actualType == type && actualFormat == format) {
        property.items = items;
    }
    return property;
}

} // namespace

X11WindowList::X11WindowList(X11Display& display, int32_t ownPid) : display_(display), ownPid_(ownPid)
{
    Display* handle = display_.handle();
    clientListStackingAtom_ = XInternAtom(handle, "_NET_CLIENT_LIST_STACKING", False);
    clientListAtom_ = XInternAtom(handle, "_NET_CLIENT_LIST", False);
    windowTypeAtom_ = XInternAtom(handle, "_NET_WM_WINDOW_TYPE", False);
    for (const char* type : {"_NET_WM_WINDOW_TYPE_DOCK", "_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_TOOLTIP",
                             "_NET_WM_WINDOW_TYPE_NOTIFICATION"})
        furnitureTypes_.push_back(XInternAtom(handle, type, False));
    wmNameAtom_ = XInternAtom(handle, "_NET_WM_NAME", False);
    utf8StringAtom_ = XInternAtom(handle, "UTF8_STRING", False);
    wmPidAtom_ = XInternAtom(handle, "_NET_WM_PID", False);
}

std::vector<X11WindowList::Record> X11WindowList::windows()
{
    std::vector<Record> records;
    if (display_.lost()) {
        return records;
    }
    for (unsigned long window : candidates()) {
        Record record;
        if (read(window, record)) {
            records.push_back(std::move(record));
        }
    }
    return records;
}

std::vector<unsigned long> X11WindowList::candidates()
{
    Display* display = display_.handle();
    X11ErrorTrap trap(display);
    // Format-32 properties arrive as an array of longs. The stacking list and the tree run bottom to
    // top; the plain client list runs in the order the windows were mapped, which is all it tells.
    const Property stacking = readProperty(display, display_.root(), clientListStackingAtom_, XA_WINDOW, 32);
    if (stacking.items > 0) {
        const auto* ids = reinterpret_cast<const unsigned long*>(stacking.data.get());
        return {std::make_reverse_iterator(ids + stacking.items), std::make_reverse_iterator(ids)};
    }
    const Property clients = readProperty(display, display_.root(), clientListAtom_, XA_WINDOW, 32);
    if (clients.items > 0) {
        const auto* ids = reinterpret_cast<const unsigned long*>(clients.data.get());
        return {ids, ids + clients.items};
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, display_.root(), &root, &parent, &children, &count) == 0) {
        PLOG("X window tree not readable");
        return {};
    }
    std::unique_ptr<Window, XFreeDeleter> owned(children);
    return {std::make_reverse_iterator(children + count), std::make_reverse_iterator(children)};
}

bool X11WindowList::read(unsigned long window, Record& record)
{
    Display* display = display_.handle();
    X11ErrorTrap trap(display);
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 || attributes.map_state != IsViewable
        || attributes.c_class != InputOutput || attributes.override_redirect != False || isFurniture(window)) {
        return false;
    }
    int x = 0;
    int y = 0;
    Window child = 0;
    if (XTranslateCoordinates(display, window, display_.root(), 0, 0, &x, &y, &child) == 0) {
        return false;
    }
    record.id = static_cast<uint32_t>(window);
    record.name = windowName(window);
    record.pid = windowPid(window);
    if (ownPid_ != 0 && record.pid == ownPid_) {
        return false;
    }
    record.frame = {x, y, attributes.width, attributes.height};
    return trap.sync().code == 0;
}

bool X11WindowList::isFurniture(unsigned long window)
{
    const Property types = readProperty(display_.handle(), window, windowTypeAtom_, XA_ATOM, 32);
    const auto* atoms = reinterpret_cast<const unsigned long*>(types.data.get());
    for (unsigned long i = 0; i < types.items; ++i) {
        if (std::ranges::find(furnitureTypes_, atoms[i]) != furnitureTypes_.end()) {
            return true;
        }
    }
    return false;
}

int32_t X11WindowList::windowPid(unsigned long window)
{
    const Property pid = readProperty(display_.handle(), window, wmPidAtom_, XA_CARDINAL, 32);
    if (pid.items == 0) {
        return 0;
    }
    // Format-32 items arrive as longs; a process id fits 32 bits.
    const unsigned long value = *reinterpret_cast<const unsigned long*>(pid.data.get());
    return value > 0 && value <= 0x7fffffffUL ? static_cast<int32_t>(value) : 0;
}

std::string X11WindowList::windowName(unsigned long window)
{
    Display* display = display_.handle();
    const Property utf8 = readProperty(display, window, wmNameAtom_, utf8StringAtom_, 8);
    if (utf8.items > 0) {
        return {reinterpret_cast<const char*>(utf8.data.get()), utf8.items};
    }
    // WM_NAME is Latin-1 or compound text; Xlib converts either.
    XTextProperty text{};
    if (XGetWMName(display, window, &text) == 0) {
        return {};
    }
    std::unique_ptr<unsigned char, XFreeDeleter> ownedText(text.value);
    char** list = nullptr;
    int count = 0;
    std::string name;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) >= Success && list != nullptr) {
        if (count > 0) {
            name = list[0];
        }
        XFreeStringList(list);
    }
    return name;
}

#include "Platform/X11DisplayList.h"

#include "Platform/X11Display.h"
#include "Platform/X11ErrorTrap.h"
#include "Utils/Log.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <memory>

namespace {

struct ResourcesDeleter {
    void operator()(XRRScreenResources* resources) const { XRRFreeScreenResources(resources); }
};
struct OutputDeleter {
    void operator()(XRROutputInfo* info) const { XRRFreeOutputInfo(info); }
};
struct CrtcDeleter {
    void operator()(XRRCrtcInfo* info) const { XRRFreeCrtcInfo(info); }
};
struct MonitorsDeleter {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

std::string atomName(Display* display, Atom atom)
{
    char* text = XGetAtomName(display, atom);
    if (text == nullptr) {
        return {};
    }
    std::string name(text);
    XFree(text);
    return name;
}

} // namespace

X11DisplayList::X11DisplayList(X11Display& display) : display_(display) {}

std::vector<X11DisplayList::DisplayInfo> X11DisplayList::displays()
{
    std::vector<DisplayInfo> found;
    if (!display_.hasRandr() || display_.lost()) {
        return found;
    }
    X11ErrorTrap trap(display_.handle());
    addOutputs(found);
    addVirtualMonitors(found);
    if (trap.sync().code != 0) {
        PLOG("RandR query failed (X error %d)", trap.error().code);
    }
    std::stable_partition(found.begin(), found.end(), [](const DisplayInfo& info) { return info.primary; });
    return found;
}

void X11DisplayList::addOutputs(std::vector<DisplayInfo>& found)
{
    Display* display = display_.handle();
    // The current resources: no probing of the outputs, which can take seconds.
    std::unique_ptr<XRRScreenResources, ResourcesDeleter> resources(
        XRRGetScreenResourcesCurrent(display, display_.root()));
    if (!resources) {
        PLOG("RandR screen resources not available");
        return;
    }
    const RROutput primary = XRRGetOutputPrimary(display, display_.root());
    for (int i = 0; i < resources->noutput; ++i) {
        std::unique_ptr<XRROutputInfo, OutputDeleter> output(
            XRRGetOutputInfo(display, resources.get(), resources->outputs[i]));
        if (!output || output->connection != RR_Connected || output->crtc == 0) {
            continue;
        }
        std::unique_ptr<XRRCrtcInfo, CrtcDeleter> crtc(XRRGetCrtcInfo(display, resources.get(), output->crtc));
        if (!crtc || crtc->width == 0 || crtc->height == 0) {
            continue;
        }
        DisplayInfo info;
        info.id = static_cast<uint32_t>(resources->outputs[i]);
        info.name.assign(output->name, static_cast<size_t>(std::max(output->nameLen, 0)));
        info.frame = {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
        info.primary = resources->outputs[i] == primary;
        found.push_back(std::move(info));
    }
}

void X11DisplayList::addVirtualMonitors(std::vector<DisplayInfo>& found)
{
    if (!display_.hasRandrMonitors()) {
        return;
    }
    Display* display = display_.handle();
    int count = 0;
    std::unique_ptr<XRRMonitorInfo, MonitorsDeleter> monitors(
        XRRGetMonitors(display, display_.root(), True, &count));
    for (int i = 0; monitors && i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors.get()[i];
        // A monitor over outputs shows what those outputs, listed already, show.
        if (monitor.noutput != 0 || monitor.width <= 0 || monitor.height <= 0) {
            continue;
        }
        DisplayInfo info;
        info.id = monitorId(monitor.name);
        info.name = atomName(display, monitor.name);
        info.frame = {monitor.x, monitor.y, monitor.width, monitor.height};
        info.primary = monitor.primary != False;
        found.push_back(std::move(info));
    }
}

std::optional<X11DisplayList::DisplayInfo> X11DisplayList::find(uint32_t id)
{
    for (DisplayInfo& info : displays()) {
        if (info.id == id) {
            return std::move(info);
        }
    }
    return std::nullopt;
}

bool X11DisplayList::checkVirtualDisplay(uint32_t id, const std::string& displayName)
{
    const std::unique_ptr<X11Display> display = X11Display::open(displayName);
    return display && X11DisplayList(*display).find(id).has_value();
}

#include "UI/X11WindowListSource.h"

#include "Platform/X11Display.h"
#include "Platform/X11WindowList.h"

#include <unistd.h>

#include <fstream>
#include <utility>

X11WindowListSource::X11WindowListSource(std::string displayName) : displayName_(std::move(displayName)) {}

X11WindowListSource::~X11WindowListSource() = default;

std::vector<WindowListSource::Window> X11WindowListSource::onScreenWindows()
{
    // A lost server is opened again on the next poll.
    if (!display_ || display_->lost()) {
        list_.reset();
        display_ = X11Display::open(displayName_);
        if (!display_)
            return {};
        // This program's own windows are no source to cast.
        list_ = std::make_unique<X11WindowList>(*display_, static_cast<int32_t>(::getpid()));
    }
    std::vector<Window> windows;
    for (const X11WindowList::Record& record : list_->windows()) {
        const WindowRect frame{double(record.frame.x), double(record.frame.y), double(record.frame.width),
                               double(record.frame.height)};
        windows.push_back({static_cast<int32_t>(record.id), ownerName(record.pid), record.name, frame});
    }
    return windows;
}

std::string X11WindowListSource::ownerName(int32_t pid)
{
    if (pid <= 0)
        return {};
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

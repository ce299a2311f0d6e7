// solid-window: maps one top-level window filled with one colour, with WM_NAME, _NET_WM_NAME and
// _NET_WM_PID set, and keeps it painted until it is killed (which closes the window). The process
// takes the given owner name as its own (/proc/self/comm), so tests can tell two such windows apart.
// With --type the window says it is of that EWMH type (dock, desktop, notification, ...).
//
//   solid-window --owner NAME --title TITLE --colour RRGGBB --geometry WxH+X+Y [--type TYPE]
//
// Prints "ready <window id>" on standard output once the window is mapped.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Options {
    std::string owner = "solid-window";
    std::string title = "solid";
    unsigned long colour = 0xff0000;
    int x = 0;
    int y = 0;
    unsigned width = 320;
    unsigned height = 240;
    std::string type;
};

int usage()
{
    std::fprintf(stderr,
                 "usage: solid-window --owner NAME --title TITLE --colour RRGGBB --geometry WxH+X+Y [--type TYPE]\n");
    return 2;
}

bool parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--owner") {
            options.owner = value;
        } else if (key == "--title") {
            options.title = value;
        } else if (key == "--colour") {
            char* end = nullptr;
            options.colour = std::strtoul(value, &end, 16);
            if (*end != '\0' || options.colour > 0xffffff)
                return false;
        } else if (key == "--type") {
            options.type = value;
        } else if (key == "--geometry") {
            if (std::sscanf(value, "%ux%u+%d+%d", &options.width, &options.height, &options.x, &options.y) != 4 ||
                options.width == 0 || options.height == 0)
                return false;
        } else {
            return false;
        }
    }
    return argc % 2 == 1;
}

void setText(Display* display, Window window, const char* property, const char* type, const std::string& text)
{
    XChangeProperty(display, window, XInternAtom(display, property, False), XInternAtom(display, type, False), 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!parse(argc, argv, options))
        return usage();
    // The kernel keeps at most 15 bytes of it.
    prctl(PR_SET_NAME, options.owner.c_str(), 0, 0, 0);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "solid-window: no X display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.background_pixel = options.colour;
    attributes.event_mask = ExposureMask | StructureNotifyMask;
    const Window window = XCreateWindow(display, RootWindow(display, screen), options.x, options.y, options.width,
                                        options.height, 0, CopyFromParent, InputOutput, CopyFromParent,
                                        CWBackPixel | CWEventMask, &attributes);
    setText(display, window, "WM_NAME", "STRING", options.title);
    setText(display, window, "_NET_WM_NAME", "UTF8_STRING", options.title);
    const long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    if (!options.type.empty()) {
        std::string name = "_NET_WM_WINDOW_TYPE_";
        for (const char c : options.type)
            name += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        const long type = static_cast<long>(XInternAtom(display, name.c_str(), False));
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char*>(&type), 1);
    }
    XMapWindow(display, window);
    XEvent event;
    do {
        XNextEvent(display, &event);
    } while (event.type != MapNotify);
    std::printf("ready %lu\n", window);
    std::fflush(stdout);
    // The background repaints every exposed area; the loop only keeps the connection served.
    for (;;)
        XNextEvent(display, &event);
}

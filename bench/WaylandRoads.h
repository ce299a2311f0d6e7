#pragma once

// bench-cast's Wayland section (see WaylandRoads.cpp): each Wayland capture road inside a private
// Wayland desktop, capture to decoded through the session controller to tv-sim.
class WaylandRoads {
public:
    // The argument after the seconds that runs this program inside the desktop.
    static constexpr const char* kInsideFlag = "--wayland-inside";

    // Inside the private Wayland desktop: each road at each configuration. The exit status.
    static int inside(int seconds);
    // The section: this program (`self`) again, with kInsideFlag, inside a private Wayland desktop.
    static void section(const char* self, int seconds);
};

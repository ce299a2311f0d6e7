#pragma once

// A window's bounds in global display coordinates, origin at the top-left corner of the main display.
struct WindowRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const WindowRect&) const = default;
};

#pragma once

// Pixel geometry: a size and a rectangle in whole pixels, the origin at the top-left corner. Points
// (the views' logical units) keep types of their own, since a point is not a pixel.
struct Size {
    int width = 0;
    int height = 0;

    bool operator==(const Size&) const = default;
};

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const Rect&) const = default;
};

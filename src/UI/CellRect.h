#pragma once

// A rectangle of a text cell, in points: origin and size. Points, not pixels, so not Utils/Rect.
struct CellRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const CellRect&) const = default;
};

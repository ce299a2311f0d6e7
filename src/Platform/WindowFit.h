#pragma once

#include "Utils/Rect.h"

// Where a window's picture goes in the cast picture: scaled to keep its aspect ratio, as large as
// fits, centred, with black bars on the two remaining sides.
class WindowFit {
public:
    // The place of a width × height picture in a castWidth × castHeight canvas. A picture relatively
    // wider than the canvas spans its width, any other (the same ratio included) its height. Origin
    // and size are even, as 4:2:0 video needs, and the rectangle lies inside the canvas. Empty when
    // any size is below 2.
    static Rect fit(int width, int height, int castWidth, int castHeight);
};

#pragma once

#include "Utils/Rect.h"

// Where the extended screen goes: right of the main display, top edges aligned when it is not taller
// than the main display, else raised by the difference so their bottom edges meet.
struct VirtualDisplayPlacement {
    int x = 0;
    int y = 0;

    bool operator==(const VirtualDisplayPlacement&) const = default;

    // The origin for a virtual display of `height` pixels beside `main`.
    static VirtualDisplayPlacement rightOf(const Rect& main, int height);
};

#pragma once

#include "Utils/Rect.h"

#include <cstdint>

// The cast's size and frame rate: what the TV's quality level asks for, and the size the user's
// choice makes of it. Pure functions.
class CastQuality {
public:
    struct Format {
        int32_t width = 0;
        int32_t height = 0;
        int32_t fps = 0;
        bool operator==(const Format&) const = default;
    };

    // The TV's quality level: 1 720p10, 2 and 3 900p10, 4 900p15, any other 1080p30.
    static Format forLevel(int32_t level);
    // The encoded size for the user's choice: 0 (automatic) keeps `answered`, 2 is 1280 x 720,
    // 3 is 2560 x 1440, any other 1920 x 1080.
    static Size encodedSize(int32_t selectedIndex, Size answered);
};

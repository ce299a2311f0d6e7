#pragma once

#include <cstdint>

// Where a toast sits in the main window (origins from the content view's lower-left corner, in points).
class ToastPlacement {
public:
    struct Size {
        double width = 0;
        double height = 0;
    };
    struct Origin {
        double x = 0;
        double y = 0;
        bool operator==(const Origin&) const = default;
    };

    // Centred horizontally; vertically 480 points up at position 0, 80 at position 2, centred otherwise.
    static Origin origin(Size window, Size toast, int64_t position);
};

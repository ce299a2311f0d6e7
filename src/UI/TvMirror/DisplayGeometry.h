#pragma once

#include <cstdint>
#include <optional>

// The TV-screen window's arithmetic, apart from any window: its size for a TV, its shape under the
// user's resizing, and the factors that turn content points into the units the TV was told.
// Content points in fractions, not pixels, so not Utils/Rect's Size and Rect.
struct DisplaySize {
    double width = 0;
    double height = 0;

    bool operator==(const DisplaySize&) const = default;
};

struct DisplayPoint {
    double x = 0;
    double y = 0;
};

struct DisplayRect {
    DisplayPoint origin;
    DisplaySize size;

    bool operator==(const DisplayRect& other) const
    {
        return origin.x == other.origin.x && origin.y == other.origin.y && size == other.size;
    }
};

class DisplayGeometry {
public:
    // The content size the window opens at before it takes the TV's shape.
    static constexpr DisplaySize kInitialContentSize{1280, 720};

    // The content size for a TV of that many pixels: landscape keeps the initial width, portrait and
    // square keep the initial height. Nullopt for a side that is zero, negative or not finite: no window
    // can take that shape.
    static std::optional<DisplaySize> contentSizeForTv(DisplaySize tv);

    // TV units per content point on one axis; 0 when either side is not a positive finite length (no TV
    // size reported yet, or a window shrunk to nothing), so a touch then lands at the TV's origin.
    static float scale(double tvExtent, double contentExtent);

    // The frame size a user resize ends at: the proposed width, and the height that keeps the content
    // 16:9 below a title bar of that height.
    static DisplaySize frameSizeForUserResize(DisplaySize proposedFrame, double titleBarHeight);

    // The zoomed frame: the default frame's height and vertical origin, the current frame's shape, centred
    // horizontally on the main display. A current frame of no height keeps the default frame's width.
    static DisplayRect standardFrame(DisplayRect currentFrame, DisplayRect defaultFrame, double mainDisplayWidth);

    // Where a dragged sidebar handle ends: moved by the drag, kept within the content's height (at the
    // bottom when the handle is taller than the content).
    static double handleOriginY(double originY, double translationY, double contentHeight, double handleHeight);

    // Where a picture is drawn in an area: as large as fits with its aspect kept, centred (top-left
    // origin). Empty when either has no area.
    static DisplayRect aspectFit(DisplaySize picture, DisplaySize area);

    // A content-point coordinate in the TV's 32-bit field: truncated towards zero, out-of-range and
    // infinite values held at the nearest end, NaN taken as 0.
    static int32_t saturatingInt32(double value);
};

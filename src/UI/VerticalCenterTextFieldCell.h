#pragma once

#include "UI/CellRect.h"

#include <functional>

// Where a wrapping text field draws its text so that its lines sit in the middle of the field.
class VerticalCenterTextFieldCell {
public:
    struct Font {
        double pointSize = 0;
        // Below the baseline: negative.
        double descender = 0;
    };
    // The width of the text's bounding rectangle when drawn within maxWidth x maxHeight.
    using Measure = std::function<double(double maxWidth, double maxHeight)>;

    // The standard title rectangle of the bounds, made as tall as the estimated lines of the text
    // (its width over the rectangle's, rounded up) and centred in the bounds. A rectangle no taller
    // than one line, or one without width, stays as it is.
    static CellRect titleRectForBounds(CellRect bounds, CellRect standardTitleRect, Font font, const Measure& measure);
};

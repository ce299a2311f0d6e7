#include "Platform/WindowFit.h"

#include <cstdint>

namespace {

int evenFloor(int64_t value)
{
    return static_cast<int>(value & ~int64_t{1});
}

// numerator / denominator rounded to the nearest integer; both positive.
int64_t roundedQuotient(int64_t numerator, int64_t denominator)
{
    return (2 * numerator + denominator) / (2 * denominator);
}

} // namespace

Rect WindowFit::fit(int width, int height, int castWidth, int castHeight)
{
    if (width < 2 || height < 2 || castWidth < 2 || castHeight < 2) {
        return {};
    }
    const int64_t w = width;
    const int64_t h = height;
    const int64_t canvasW = evenFloor(castWidth);
    const int64_t canvasH = evenFloor(castHeight);
    // Compare the ratios in integers: no rounding decides which side spans the canvas.
    const bool wider = w * canvasH > canvasW * h;
    Rect fitted;
    if (wider) {
        fitted.width = static_cast<int>(canvasW);
        fitted.height = evenFloor(roundedQuotient(canvasW * h, w));
    } else {
        fitted.height = static_cast<int>(canvasH);
        fitted.width = evenFloor(roundedQuotient(canvasH * w, h));
    }
    // A very thin picture still shows as two pixels rather than vanishing.
    if (fitted.width < 2) {
        fitted.width = 2;
    }
    if (fitted.height < 2) {
        fitted.height = 2;
    }
    fitted.x = evenFloor((castWidth - fitted.width) / 2);
    fitted.y = evenFloor((castHeight - fitted.height) / 2);
    return fitted;
}

#include "UI/VerticalCenterTextFieldCell.h"

#include <cmath>

CellRect VerticalCenterTextFieldCell::titleRectForBounds(CellRect bounds, CellRect standardTitleRect, Font font,
                                                         const Measure& measure)
{
    CellRect title = standardTitleRect;
    const double lineHeight = std::ceil(font.pointSize - font.descender);
    // Both are divisors below: without width or line height there is nothing to centre.
    if (title.width <= 0 || lineHeight <= 0 || title.height <= lineHeight)
        return title;
    const double maxWidth = std::ceil(title.height / lineHeight) * title.width;
    const double textWidth = measure ? measure(maxWidth, lineHeight) : 0;
    const double height = lineHeight * std::ceil(textWidth / title.width);
    title.y = bounds.y + (bounds.height - height) * 0.5;
    title.height = height;
    return title;
}

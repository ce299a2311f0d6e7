#include "UI/SingleLineVerticalCenterTextFieldCell.h"

#include <cmath>

CellRect SingleLineVerticalCenterTextFieldCell::adjustedFrameToVerticallyCenterText(CellRect frame, double ascender,
                                                                                    double descender)
{
    const double inset = std::floor(frame.height * 0.5 - (ascender + descender));
    frame.y += inset;
    frame.height -= 2 * inset;
    return frame;
}

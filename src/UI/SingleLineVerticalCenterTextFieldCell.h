#pragma once

#include "UI/CellRect.h"

// Where a one-line text field draws and edits its text so that the line sits in the middle of the field.
class SingleLineVerticalCenterTextFieldCell {
public:
    // The frame inset at top and bottom by floor(height / 2 - (ascender + descender)), the font's
    // ascender above the baseline and its descender below it (negative), as the font reports them.
    static CellRect adjustedFrameToVerticallyCenterText(CellRect frame, double ascender, double descender);
};

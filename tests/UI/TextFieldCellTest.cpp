#include "UI/SingleLineVerticalCenterTextFieldCell.h"
#include "UI/VerticalCenterTextFieldCell.h"

#include <gtest/gtest.h>

namespace {

TEST(SingleLineVerticalCenterTextFieldCellTest, TheFrameIsInsetAtTopAndBottomOnly)
{
    // floor(40 - (15 - 4)) = 29.
    EXPECT_EQ(SingleLineVerticalCenterTextFieldCell::adjustedFrameToVerticallyCenterText({10, 5, 200, 80}, 15, -4),
              (CellRect{10, 34, 200, 22}));
    // floor(12.5 - 10.2) = 2: a whole number.
    EXPECT_EQ(SingleLineVerticalCenterTextFieldCell::adjustedFrameToVerticallyCenterText({0, 0, 50, 25}, 13.2, -3),
              (CellRect{0, 2, 50, 21}));
}

// A font of 13 points whose descender is -3: lines of 16 points.
constexpr VerticalCenterTextFieldCell::Font kFont{.pointSize = 13, .descender = -3};

TEST(VerticalCenterTextFieldCellTest, WrappedLinesAreCentredInTheBounds)
{
    const CellRect bounds{0, 0, 100, 100};
    double askedWidth = 0;
    double askedHeight = 0;
    // 250 points of text in a 100-point wide rectangle: three lines, 48 points high.
    const auto title = VerticalCenterTextFieldCell::titleRectForBounds(
        bounds, {2, 0, 96, 100}, kFont, [&](double maxWidth, double maxHeight) {
            askedWidth = maxWidth;
            askedHeight = maxHeight;
            return 250.0;
        });
    EXPECT_EQ(title, (CellRect{2, 26, 96, 48}));
    EXPECT_EQ(askedWidth, 7 * 96) << "ceil(100 / 16) lines of the rectangle's width";
    EXPECT_EQ(askedHeight, 16);
}

TEST(VerticalCenterTextFieldCellTest, ARectangleOfOneLineOrLessStaysAsItIs)
{
    const auto measure = [](double, double) { return 500.0; };
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 100, 16}, {0, 0, 100, 16}, kFont, measure),
              (CellRect{0, 0, 100, 16}));
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 100, 10}, {0, 3, 100, 10}, kFont, measure),
              (CellRect{0, 3, 100, 10}));
}

// The estimate divides by the rectangle's width and by the line height: without either the rectangle
// stays as it is, never a rectangle of infinite or undefined height.
TEST(VerticalCenterTextFieldCellTest, ZeroWidthsAndLineHeightsLeaveTheRectangleUnchanged)
{
    const auto measure = [](double, double) { return 120.0; };
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 0, 100}, {0, 0, 0, 100}, kFont, measure),
              (CellRect{0, 0, 0, 100}));
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 80, 100}, {0, 0, -4, 100}, kFont, measure),
              (CellRect{0, 0, -4, 100}));
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 80, 100}, {0, 0, 80, 100}, {0, 0}, measure),
              (CellRect{0, 0, 80, 100}));
    EXPECT_EQ(VerticalCenterTextFieldCell::titleRectForBounds({0, 0, 80, 100}, {0, 0, 80, 100}, kFont, nullptr),
              (CellRect{0, 50, 80, 0}))
        << "no text: no lines";
}

} // namespace

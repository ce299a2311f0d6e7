#include "Platform/WindowFit.h"

#include <gtest/gtest.h>

namespace {

// A wider window spans the width and is centred vertically, a taller one the other way round.
TEST(WindowFitTest, WindowKeepsItsShapeCentredInTheCanvas)
{
    struct Case {
        int width, height, castWidth, castHeight;
        Rect expected;
    };
    for (const Case& c : {Case{2560, 1080, 1920, 1080, {0, 134, 1920, 810}}, Case{1000, 100, 1280, 720, {0, 296, 1280, 128}},
                          Case{800, 600, 1920, 1080, {240, 0, 1440, 1080}}, Case{100, 1000, 1280, 720, {604, 0, 72, 720}},
                          Case{1280, 720, 1920, 1080, {0, 0, 1920, 1080}}, Case{3840, 2160, 1280, 720, {0, 0, 1280, 720}},
                          Case{640, 480, 640, 480, {0, 0, 640, 480}}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " in " << c.castWidth << "x" << c.castHeight);
        EXPECT_EQ(WindowFit::fit(c.width, c.height, c.castWidth, c.castHeight), c.expected);
    }
}

TEST(WindowFitTest, OddSizesGiveEvenPlacesInsideTheCanvas)
{
    // 1001 × 501 into 1921 × 1081: wider than the canvas, 1920 wide (even), height 961 → 960.
    const Rect odd = WindowFit::fit(1001, 501, 1921, 1081);
    EXPECT_EQ(odd, (Rect{0, 60, 1920, 960}));
    for (int width = 2; width < 60; width += 7) {
        for (int height = 2; height < 60; height += 5) {
            for (const auto& [castWidth, castHeight] : {std::pair{33, 17}, std::pair{64, 48}, std::pair{17, 33}}) {
                const Rect r = WindowFit::fit(width, height, castWidth, castHeight);
                SCOPED_TRACE(testing::Message() << width << "x" << height << " in " << castWidth << "x" << castHeight);
                EXPECT_EQ(r.x % 2, 0);
                EXPECT_EQ(r.y % 2, 0);
                EXPECT_EQ(r.width % 2, 0);
                EXPECT_EQ(r.height % 2, 0);
                EXPECT_GE(r.width, 2);
                EXPECT_GE(r.height, 2);
                EXPECT_LE(r.x + r.width, castWidth);
                EXPECT_LE(r.y + r.height, castHeight);
                // One side spans the even part of the canvas.
                EXPECT_TRUE(r.width == (castWidth & ~1) || r.height == (castHeight & ~1));
            }
        }
    }
}

TEST(WindowFitTest, DegenerateSizesGiveNothingAndThinWindowsStayVisible)
{
    EXPECT_EQ(WindowFit::fit(0, 100, 1920, 1080), Rect{});
    EXPECT_EQ(WindowFit::fit(100, -1, 1920, 1080), Rect{});
    EXPECT_EQ(WindowFit::fit(100, 100, 1, 1080), Rect{});
    EXPECT_EQ(WindowFit::fit(100000, 2, 1920, 1080), (Rect{0, 538, 1920, 2}));
}

} // namespace

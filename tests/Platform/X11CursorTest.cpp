#include "Platform/X11Cursor.h"
#include "Platform/X11Fixture.h"

#include <gtest/gtest.h>

namespace {

BgraFrame solid(int width, int height, uint32_t argb)
{
    BgraFrame frame;
    frame.resize(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = frame.pixel(x, y);
            p[0] = static_cast<uint8_t>(argb);
            p[1] = static_cast<uint8_t>(argb >> 8);
            p[2] = static_cast<uint8_t>(argb >> 16);
            p[3] = static_cast<uint8_t>(argb >> 24);
        }
    }
    return frame;
}

// Pixels equal to `argb`, counted over the whole frame.
int count(const BgraFrame& frame, uint32_t argb)
{
    int found = 0;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            found += argbAt(frame, x, y) == argb ? 1 : 0;
        }
    }
    return found;
}

constexpr uint32_t kBlack = 0xff000000;
constexpr uint32_t kWhite = 0xffffffff;

TEST(X11CursorDrawTest, CursorIsClippedAtEveryEdgeOfTheFrame)
{
    const BgraFrame cursor = solid(4, 3, kWhite);
    struct Case {
        int left;
        int top;
        int visible;
    };
    for (const Case& c : {Case{0, 0, 12}, Case{-2, 0, 6}, Case{8, 0, 6}, Case{0, -2, 4}, Case{0, 8, 8},
                          Case{-3, -2, 1}, Case{9, 9, 1}, Case{-4, 0, 0}, Case{10, 0, 0}, Case{0, 10, 0},
                          Case{-2000000000, -2000000000, 0}, Case{2000000000, 2000000000, 0}}) {
        BgraFrame frame = solid(10, 10, kBlack);
        X11Cursor::draw(cursor, frame, c.left, c.top);
        EXPECT_EQ(count(frame, kWhite), c.visible) << "at " << c.left << "," << c.top;
        EXPECT_EQ(count(frame, kBlack), 100 - c.visible) << "at " << c.left << "," << c.top;
    }
    BgraFrame frame = solid(10, 10, kBlack);
    X11Cursor::draw(cursor, frame, 8, 8);
    EXPECT_EQ(argbAt(frame, 9, 9), kWhite);
    EXPECT_EQ(argbAt(frame, 7, 9), kBlack);
}

TEST(X11CursorDrawTest, PremultipliedCursorIsBlendedOverTheFrame)
{
    BgraFrame cursor = solid(2, 1, 0x80400000); // half-transparent red, premultiplied
    uint8_t* clear = cursor.pixel(1, 0);
    clear[0] = clear[1] = clear[2] = clear[3] = 0;
    BgraFrame frame = solid(2, 1, 0xff0000ff);
    X11Cursor::draw(cursor, frame, 0, 0);
    EXPECT_EQ(argbAt(frame, 0, 0), 0xff40007f);
    EXPECT_EQ(argbAt(frame, 1, 0), 0xff0000ff);

    BgraFrame empty;
    X11Cursor::draw(empty, frame, 0, 0);
    X11Cursor::draw(cursor, empty, 0, 0);
    EXPECT_TRUE(empty.empty());
}

using X11CursorTest = X11Fixture;

TEST_F(X11CursorTest, CursorFollowsThePointerAndHasAPicture)
{
    XWarpPointer(client, None, DefaultRootWindow(client), 0, 0, 0, 0, 300, 200);
    XSync(client, False);
    X11Cursor cursor(*display);
    const std::optional<X11Cursor::Image> image = cursor.current();
    ASSERT_TRUE(image);
    EXPECT_EQ(image->x, 300);
    EXPECT_EQ(image->y, 200);
    EXPECT_FALSE(image->pixels.empty());
}

} // namespace

#include "UI/TvMirror/DisplayGeometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(DisplayGeometryTest, ATvSideThatIsNoLengthGivesNoSize)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (const DisplaySize tv : {DisplaySize{0, 0}, DisplaySize{1920, 0}, DisplaySize{0, 1080},
                                 DisplaySize{-1920, 1080}, DisplaySize{1920, -1}, DisplaySize{kNaN, 1080},
                                 DisplaySize{1920, kInf}})
        EXPECT_FALSE(DisplayGeometry::contentSizeForTv(tv)) << tv.width << " x " << tv.height;
}

TEST(DisplayGeometryTest, ScalesAreZeroWithoutBothLengths)
{
    EXPECT_FLOAT_EQ(DisplayGeometry::scale(1920, 1280), 1.5f);
    EXPECT_EQ(DisplayGeometry::scale(0, 1280), 0.0f);
    EXPECT_EQ(DisplayGeometry::scale(1920, 0), 0.0f);
    EXPECT_EQ(DisplayGeometry::scale(1920, -5), 0.0f);
}

TEST(DisplayGeometryTest, CoordinatesSaturateAtTheEndsOfTheField)
{
    EXPECT_EQ(DisplayGeometry::saturatingInt32(150.9), 150);
    EXPECT_EQ(DisplayGeometry::saturatingInt32(-0.9), 0);
    EXPECT_EQ(DisplayGeometry::saturatingInt32(-1.5), -1);
    EXPECT_EQ(DisplayGeometry::saturatingInt32(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(DisplayGeometry::saturatingInt32(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(DisplayGeometry::saturatingInt32(std::numeric_limits<double>::infinity()),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(DisplayGeometry::saturatingInt32(-std::numeric_limits<double>::infinity()),
              std::numeric_limits<int32_t>::min());
    EXPECT_EQ(DisplayGeometry::saturatingInt32(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(DisplayGeometry::saturatingInt32(2147483647.0), std::numeric_limits<int32_t>::max());
}

TEST(DisplayGeometryTest, APictureIsDrawnAsLargeAsFitsCentredWithItsShape)
{
    // The TV's own shape fills the content; a portrait picture in a landscape window gets bars beside it.
    EXPECT_EQ(DisplayGeometry::aspectFit({1920, 1080}, {1280, 720}), (DisplayRect{{0, 0}, {1280, 720}}));
    EXPECT_EQ(DisplayGeometry::aspectFit({1080, 1920}, {1280, 720}), (DisplayRect{{437.5, 0}, {405, 720}}));
    EXPECT_EQ(DisplayGeometry::aspectFit({1920, 1080}, {1000, 1000}), (DisplayRect{{0, 218.75}, {1000, 562.5}}));
    EXPECT_EQ(DisplayGeometry::aspectFit({0, 1080}, {1280, 720}), DisplayRect{});
    EXPECT_EQ(DisplayGeometry::aspectFit({1920, 1080}, {1280, -1}), DisplayRect{});
}

#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

class PointerFilterTest : public testing::Test {
protected:
    // The type the touch passed as, nullopt when dropped; a passed touch is handed on at once.
    std::optional<int> pass(int type, int32_t x, int32_t y, int32_t fourth = 0)
    {
        return passPayload(type, TvSim::touch(x, y, fourth));
    }
    std::optional<int> passPayload(int type, const std::vector<uint8_t>& payload)
    {
        const auto touch = filter.filter(type, payload);
        if (!touch)
            return std::nullopt;
        filter.willDeliver(touch->type);
        return touch->type;
    }

    double now = 1'000'000;
    PointerFilter filter{[this] { return now; }};
};

TEST_F(PointerFilterTest, DownsUpsAndRealMovesPassWithTheirBytes)
{
    const auto down = TvSim::touch(100, -20);
    const auto touch = filter.filter(kMsgTouchDown, down);
    ASSERT_TRUE(touch);
    EXPECT_EQ(touch->type, kMsgTouchDown);
    EXPECT_EQ(std::vector<uint8_t>(touch->data.begin(), touch->data.end()), down);
    EXPECT_EQ(pass(kMsgTouchMove, 104, -20), kMsgTouchMove);
    EXPECT_EQ(pass(kMsgTouchMove, 104, -24), kMsgTouchMove);
    EXPECT_EQ(pass(kMsgTouchUp, 104, -24), kMsgTouchUp);
    // Extreme coordinates do not overflow the distance.
    EXPECT_EQ(pass(kMsgTouchMove, INT32_MIN, INT32_MAX), kMsgTouchMove);
    EXPECT_EQ(pass(kMsgTouchMove, INT32_MAX, INT32_MIN), kMsgTouchMove);
}

TEST_F(PointerFilterTest, TheFirstStillMoveAfterStartIsDropped)
{
    EXPECT_EQ(pass(kMsgTouchMove, 1, 1), std::nullopt);
    now += 1e9;
    EXPECT_EQ(pass(kMsgTouchMove, 3, -3), std::nullopt);
}

TEST_F(PointerFilterTest, AHeldTouchBecomesOneLongPress)
{
    ASSERT_EQ(pass(kMsgTouchDown, 50, 50), kMsgTouchDown);
    now += 500;
    EXPECT_EQ(pass(kMsgTouchMove, 51, 49), std::nullopt);
    now += 500; // exactly one second: not yet
    EXPECT_EQ(pass(kMsgTouchMove, 53, 47), std::nullopt);
    now += 1;
    EXPECT_EQ(pass(kMsgTouchMove, 53, 47), kPointerLongPress);
    // Once, until a touch that is not a long press ends the hold.
    now += 5'000;
    EXPECT_EQ(pass(kMsgTouchMove, 53, 47), std::nullopt);
    EXPECT_EQ(pass(kMsgTouchUp, 53, 47), kMsgTouchUp);
    now += 1'001;
    EXPECT_EQ(pass(kMsgTouchMove, 53, 47), kPointerLongPress);
}

TEST_F(PointerFilterTest, AnUpDoesNotRestartTheWait)
{
    ASSERT_EQ(pass(kMsgTouchDown, 10, 10), kMsgTouchDown);
    now += 900;
    ASSERT_EQ(pass(kMsgTouchUp, 10, 10), kMsgTouchUp);
    now += 101;
    EXPECT_EQ(pass(kMsgTouchMove, 10, 10), kPointerLongPress);
}

TEST_F(PointerFilterTest, HoldEndsOnlyWhenAnotherTouchIsHandedOn)
{
    ASSERT_EQ(pass(kMsgTouchDown, 10, 10), kMsgTouchDown);
    now += 2'000;
    const auto longPress = filter.filter(kMsgTouchMove, TvSim::touch(10, 10));
    ASSERT_TRUE(longPress);
    ASSERT_EQ(longPress->type, kPointerLongPress);
    // The long press has not been handed on yet: the hold stays.
    EXPECT_TRUE(filter.filter(kMsgTouchUp, TvSim::touch(10, 10)));
    now += 2'000;
    EXPECT_FALSE(filter.filter(kMsgTouchMove, TvSim::touch(10, 10)));
    filter.willDeliver(kPointerLongPress);
    filter.willDeliver(kMsgTouchUp);
    EXPECT_TRUE(filter.filter(kMsgTouchMove, TvSim::touch(10, 10)));
}

TEST_F(PointerFilterTest, MarkedTouchesAreDropped)
{
    EXPECT_EQ(pass(kMsgTouchDown, 10, 10, 1), std::nullopt);
    EXPECT_EQ(pass(kMsgTouchUp, 10, 10, -1), std::nullopt);
    EXPECT_EQ(pass(kMsgTouchMove, 500, 500, 7), std::nullopt);
    // A dropped touch leaves the last position alone.
    ASSERT_EQ(pass(kMsgTouchDown, 10, 10), kMsgTouchDown);
    EXPECT_EQ(pass(kMsgTouchMove, 500, 500, 7), std::nullopt);
    EXPECT_EQ(pass(kMsgTouchMove, 12, 12), std::nullopt);
}

TEST_F(PointerFilterTest, AShortTouchIsDroppedBeforeItChangesAnything)
{
    ASSERT_EQ(pass(kMsgTouchDown, 10, 10), kMsgTouchDown);
    now += 2'000;
    for (size_t length : {0u, 4u, 15u}) {
        EXPECT_EQ(passPayload(kMsgTouchDown, std::vector<uint8_t>(length, 0)), std::nullopt);
        EXPECT_EQ(passPayload(kMsgTouchMove, std::vector<uint8_t>(length, 0)), std::nullopt);
    }
    // Neither the time nor the position moved: the still move is a long press.
    EXPECT_EQ(pass(kMsgTouchMove, 10, 10), kPointerLongPress);
}

TEST_F(PointerFilterTest, ALongerTouchIsHandedOnAsItsSixteenBytes)
{
    auto payload = TvSim::touch(7, 8);
    const std::vector<uint8_t> touchBytes = payload;
    payload.resize(40, 0xEE);
    const auto touch = filter.filter(kMsgTouchDown, payload);
    ASSERT_TRUE(touch);
    EXPECT_EQ(std::vector<uint8_t>(touch->data.begin(), touch->data.end()), touchBytes);
}

} // namespace

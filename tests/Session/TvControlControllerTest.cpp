#include "Session/CastingFixture.h"

#include "Socket/PointerFilter.h"
#include "Socket/TouchPayload.h"
#include "Session/TvControlController.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

// The TV's control against a recording input: each posted event as "mouse <type> <x>,<y> x<count>"
// or "key <code> down|up flags=<hex>".
class TvControlControllerTest : public CastingFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = CastingFixture::services();
        s.input.postMouseEvent = [this](uint32_t button, uint32_t type, double x, double y, int64_t count) {
            char line[96];
            std::snprintf(line, sizeof line, "mouse %u/%u %.0f,%.0f x%lld", button, type, x, y,
                          static_cast<long long>(count));
            posted.push_back(line);
            return true;
        };
        s.input.postKeyboardEvent = [this](uint16_t key, bool down, uint64_t flags) {
            char line[64];
            std::snprintf(line, sizeof line, "key %u %s flags=%llx", key, down ? "down" : "up",
                          static_cast<unsigned long long>(flags));
            posted.push_back(line);
            return true;
        };
        return s;
    }

    // A cast of 1920 x 1080 from the fake's 2880 x 1620 display: 1.5 display pixels per cast pixel.
    void castAt1080()
    {
        connect();
        announce();
        answer(0);
    }

    void touch(int type, int32_t x, int32_t y)
    {
        const auto payload = TouchPayload{x, y, 0, 0}.encodeLittleEndian();
        controller->tvControl().onTvcontrolReceived(type, payload.data(), static_cast<int64_t>(payload.size()));
        loop->runUntilIdle();
    }

    void key(int code)
    {
        controller->tvControl().tvKeyHandle(code);
        loop->runUntilIdle();
    }

    Strings posted;
};

TEST_F(TvControlControllerTest, NothingIsPostedWhileNoScreenCastCaptures)
{
    touch(kMsgTouchDown, 100, 50);
    key(0xEF5E);
    connect();
    announce();
    touch(kMsgTouchDown, 100, 50);
    key(0xEF5E);
    EXPECT_TRUE(posted.empty()) << "announced, not yet capturing";

    answer(0);
    state().screenType = kScreenTypeWindow;
    touch(kMsgTouchDown, 100, 50);
    EXPECT_TRUE(posted.empty()) << "a window cast ignores touches";
    key(0xEF5E);
    EXPECT_EQ(posted, (Strings{"key 53 down flags=100", "key 53 up flags=100"})) << "and still posts keys";
}

TEST_F(TvControlControllerTest, TouchesAreScaledToTheDisplayAndClampedToIt)
{
    castAt1080();
    touch(kMsgTouchDown, 100, 50);
    touch(kMsgTouchMove, 5000, -20);
    touch(kMsgTouchUp, 1920, 1080);
    EXPECT_EQ(posted, (Strings{"mouse 0/1 150,75 x1", "mouse 0/6 2879,0 x1", "mouse 0/2 2879,1619 x1"}));
}

TEST_F(TvControlControllerTest, AShortTouchIsDropped)
{
    castAt1080();
    const std::vector<uint8_t> shortTouch(PointerFilter::kTouchSize - 1, 0);
    controller->tvControl().onTvcontrolReceived(kMsgTouchDown, shortTouch.data(), static_cast<int64_t>(shortTouch.size()));
    controller->tvControl().onTvcontrolReceived(kMsgTouchDown, nullptr, 0);
    loop->runUntilIdle();
    EXPECT_TRUE(posted.empty());
}

// A second touch-down within 350 ms and 30 units makes a double click at the first touch's point.
TEST_F(TvControlControllerTest, ASecondTapNearAndSoonIsADoubleClick)
{
    castAt1080();
    touch(kMsgTouchDown, 100, 50);
    touch(kMsgTouchUp, 100, 50);
    loop->advance(std::chrono::milliseconds(200));
    touch(kMsgTouchDown, 120, 70);
    touch(kMsgTouchUp, 120, 70);
    EXPECT_EQ(posted, (Strings{"mouse 0/1 150,75 x1", "mouse 0/2 150,75 x1", "mouse 0/1 150,75 x2",
                               "mouse 0/2 150,75 x2", "mouse 0/2 180,105 x1"}));

    posted.clear();
    loop->advance(std::chrono::milliseconds(351));
    touch(kMsgTouchDown, 120, 70);
    loop->advance(std::chrono::milliseconds(100));
    touch(kMsgTouchDown, 152, 70);
    EXPECT_EQ(posted, (Strings{"mouse 0/1 180,105 x1", "mouse 0/1 228,105 x1"})) << "too late, then too far";
}

TEST_F(TvControlControllerTest, ALongPressIsARightClick)
{
    castAt1080();
    touch(kPointerLongPress, 10, 20);
    touch(0x4242, 10, 20);
    EXPECT_EQ(posted, (Strings{"mouse 1/3 15,30 x1", "mouse 1/4 15,30 x1"}));
}

TEST_F(TvControlControllerTest, OnlyTheThreeTvKeysArePosted)
{
    castAt1080();
    key(0xEF5B);
    key(0xEF5C);
    key(0xEF5E);
    key(0xEF5D);
    key(0);
    EXPECT_EQ(posted, (Strings{"key 123 down flags=100", "key 123 up flags=100", "key 124 down flags=100",
                               "key 124 up flags=100", "key 53 down flags=100", "key 53 up flags=100"}));
    EXPECT_EQ(TvControlController::macKeyCode(0xEF5D), std::nullopt);
}

} // namespace

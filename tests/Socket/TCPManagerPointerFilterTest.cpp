#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

constexpr int kDown = kMsgTouchDown, kMove = kMsgTouchMove, kUp = kMsgTouchUp, kLong = kPointerLongPress;

// One touch after `wait` milliseconds, and the type it is handed on as (nullopt: dropped). A passed
// touch is handed on at once.
struct Step {
    double wait;
    int type;
    int32_t x, y, fourth;
    std::optional<int> passes;
    size_t length = 16;
};

struct Scenario {
    const char* label;
    std::vector<Step> steps;
};

const Scenario kScenarios[] = {
    {"downs, ups and real moves pass; extreme coordinates do not overflow the distance",
     {{0, kDown, 100, -20, 0, kDown}, {0, kMove, 104, -20, 0, kMove}, {0, kMove, 104, -24, 0, kMove},
      {0, kUp, 104, -24, 0, kUp}, {0, kMove, INT32_MIN, INT32_MAX, 0, kMove},
      {0, kMove, INT32_MAX, INT32_MIN, 0, kMove}}},
    {"the first still move after start is dropped", {{0, kMove, 1, 1, 0, {}}, {1e9, kMove, 3, -3, 0, {}}}},
    {"a held touch becomes one long press after more than a second, until another touch is handed on",
     {{0, kDown, 50, 50, 0, kDown}, {500, kMove, 51, 49, 0, {}}, {500, kMove, 53, 47, 0, {}},
      {1, kMove, 53, 47, 0, kLong}, {5'000, kMove, 53, 47, 0, {}}, {0, kUp, 53, 47, 0, kUp},
      {1'001, kMove, 53, 47, 0, kLong}}},
    {"an up does not restart the wait",
     {{0, kDown, 10, 10, 0, kDown}, {900, kUp, 10, 10, 0, kUp}, {101, kMove, 10, 10, 0, kLong}}},
    {"marked touches are dropped and leave the last position alone",
     {{0, kDown, 10, 10, 1, {}}, {0, kUp, 10, 10, -1, {}}, {0, kMove, 500, 500, 7, {}}, {0, kDown, 10, 10, 0, kDown},
      {0, kMove, 500, 500, 7, {}}, {0, kMove, 12, 12, 0, {}}}},
    {"a short touch is dropped before it changes the time or the position",
     {{0, kDown, 10, 10, 0, kDown}, {2'000, kDown, 0, 0, 0, {}, 0}, {0, kMove, 0, 0, 0, {}, 4},
      {0, kMove, 0, 0, 0, {}, 15}, {0, kMove, 10, 10, 0, kLong}}},
};

TEST(PointerFilterTest, Scenarios)
{
    for (const Scenario& scenario : kScenarios) {
        SCOPED_TRACE(scenario.label);
        double now = 1'000'000;
        PointerFilter filter{[&now] { return now; }};
        for (size_t i = 0; i < scenario.steps.size(); ++i) {
            const Step& step = scenario.steps[i];
            now += step.wait;
            auto payload = TvMessages::touch(step.x, step.y, step.fourth);
            payload.resize(step.length);
            const auto touch = filter.filter(step.type, payload);
            EXPECT_EQ(touch ? std::optional<int>(touch->type) : std::nullopt, step.passes) << "step " << i;
            if (touch) {
                EXPECT_EQ(std::vector<uint8_t>(touch->data.begin(), touch->data.end()), payload);
                filter.willDeliver(touch->type);
            }
        }
    }
}

TEST(PointerFilterTest, HoldEndsOnlyWhenAnotherTouchIsHandedOn)
{
    double now = 1'000'000;
    PointerFilter filter{[&now] { return now; }};
    ASSERT_TRUE(filter.filter(kDown, TvMessages::touch(10, 10)));
    filter.willDeliver(kDown);
    now += 2'000;
    const auto longPress = filter.filter(kMove, TvMessages::touch(10, 10));
    ASSERT_TRUE(longPress);
    ASSERT_EQ(longPress->type, kLong);
    // The long press has not been handed on yet: the hold stays.
    EXPECT_TRUE(filter.filter(kUp, TvMessages::touch(10, 10)));
    now += 2'000;
    EXPECT_FALSE(filter.filter(kMove, TvMessages::touch(10, 10)));
    filter.willDeliver(kLong);
    filter.willDeliver(kUp);
    EXPECT_TRUE(filter.filter(kMove, TvMessages::touch(10, 10)));
}

// A longer touch is handed on as its first sixteen bytes.
TEST(PointerFilterTest, ALongerTouchIsCut)
{
    PointerFilter filter{[] { return 0.0; }};
    auto payload = TvMessages::touch(7, 8);
    const std::vector<uint8_t> touchBytes = payload;
    payload.resize(40, 0xEE);
    const auto touch = filter.filter(kDown, payload);
    ASSERT_TRUE(touch);
    EXPECT_EQ(std::vector<uint8_t>(touch->data.begin(), touch->data.end()), touchBytes);
}

} // namespace

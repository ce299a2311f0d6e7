#include "Socket/MessageType.h"
#include "UI/TvMirror/DisplayWindowFixture.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// The TV at 1920 x 1080 in a 1280 x 720 content area: 1.5 TV pixels per point.
class DisplayInputTest : public DisplayWindowFixture {
protected:
    DisplayInputTest() { tvResolution(1920, 1080); }
};

// A TouchPayload of x and y, big-endian, words 2 and 3 zero.
std::vector<uint8_t> touchBytes(uint32_t x, uint32_t y)
{
    return {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x),
            uint8_t(y >> 24), uint8_t(y >> 16), uint8_t(y >> 8), uint8_t(y),
            0, 0, 0, 0, 0, 0, 0, 0};
}

TEST_F(DisplayInputTest, APressGoesOutInTvPixelsFromTheTopLeft)
{
    controller.mouseDown({100, 700});
    controller.mouseUp({100, 700});

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgTouchDown, touchBytes(150, 30)}, {kMsgTouchUp, touchBytes(150, 30)}}));
}

TEST_F(DisplayInputTest, PointsOutsideTheContentAreDroppedAndTheEdgesCount)
{
    controller.mouseDown({1280.5, 10});
    controller.mouseDown({-0.1, 10});
    controller.mouseDown({10, 720.5});
    controller.mouseUp({10, -1});
    controller.mouseDragged({1281, 10}, 0, 0);
    EXPECT_TRUE(sent.empty());

    controller.mouseDown({1280, 720});
    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgTouchDown, touchBytes(1920, 0)}}));
}

TEST_F(DisplayInputTest, ADragThatHasNotMovedPressesFirst)
{
    controller.mouseDragged({10, 20}, 0, 0);
    controller.mouseDragged({12, 20}, 2, 0);

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgTouchDown, touchBytes(15, 1050)},
                                              {kMsgTouchMove, touchBytes(15, 1050)},
                                              {kMsgTouchMove, touchBytes(18, 1050)}}));
}

TEST_F(DisplayInputTest, EnteringOrLeavingLiftsTheTouchAtTheLowerLeftCorner)
{
    controller.mouseEntered();
    controller.annotationEvent(true);
    sent.clear();
    controller.mouseExited();

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationUp, touchBytes(0, 1080)}}));
}

TEST_F(DisplayInputTest, ScrollsAreHalvedAndTruncatedKeepingTheirSign)
{
    controller.scrollWheel(0, -3.0);
    controller.scrollWheel(4.0, 0.9);

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgScroll, {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
                                              {kMsgScroll, {0, 0, 0, 2, 0, 0, 0, 0}}}));
}

TEST_F(DisplayInputTest, InAnnotationModeAClickDrawsInsteadOfTouching)
{
    controller.annotationEvent(true);
    EXPECT_TRUE(view.annotationShown);
    controller.mouseDown({100, 700});
    controller.mouseDragged({100, 700}, 1, 0);
    controller.mouseUp({100, 700});
    controller.exitAnnotationEvent();
    controller.mouseDown({100, 700});

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 1}},
                                              {kMsgAnnotationDown, touchBytes(150, 30)},
                                              {kMsgAnnotationMove, touchBytes(150, 30)},
                                              {kMsgAnnotationUp, touchBytes(150, 30)},
                                              {kMsgAnnotationMode, {0, 0, 0, 0}},
                                              {kMsgTouchDown, touchBytes(150, 30)}}));
    EXPECT_FALSE(view.annotationShown);
}

TEST_F(DisplayInputTest, TheSidebarCommandsHaveTheirBytes)
{
    controller.revokeEvent();
    controller.cleanAnnotationEvent();
    controller.goHomeEvent();
    controller.annotationEvent(false);

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationUndo, {}},
                                              {kMsgAnnotationClear, {}},
                                              {kMsgKeyCode, {0, 0, 0xF7, 0x04}},
                                              {kMsgAnnotationMode, {0, 0, 0, 0}}}));
}

TEST_F(DisplayInputTest, WithoutControlOnlyTheUngatedCommandsGoOut)
{
    controlStatus(false);
    sent.clear();

    controller.mouseDown({100, 700});
    controller.mouseDragged({100, 700}, 0, 0);
    controller.mouseUp({100, 700});
    controller.mouseEntered();
    controller.scrollWheel(3, 3);
    view.annotationShown = true; // the click toggled the button
    controller.annotationEvent(true);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(view.annotationShown) << "the toggled button shows off again";
    EXPECT_FALSE(controller.annotationMode());

    controller.annotationEvent(false);
    controller.revokeEvent();
    controller.cleanAnnotationEvent();
    controller.goHomeEvent();
    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgAnnotationMode, {0, 0, 0, 0}},
                                              {kMsgAnnotationUndo, {}},
                                              {kMsgAnnotationClear, {}},
                                              {kMsgKeyCode, {0, 0, 0xF7, 0x04}}}));
}

TEST_F(DisplayInputTest, CoordinatesBeyondTheFieldSaturate)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // A content area past the 32-bit field, as a broken toolkit report might give, announced in points.
    view.content = {4e9, 4e9};
    controller.getWindowSizeSendTv(kMsgViewSize);
    loop->runUntilIdle();
    controller.mouseDown({3e9, 0});
    controller.mouseDown({kNaN, kNaN});
    controller.scrollWheel(-1e12, kInf);

    EXPECT_EQ(sent, (std::vector<SentMessage>{{kMsgViewSize, {0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF}},
                                              {kMsgTouchDown, touchBytes(0x7FFF'FFFF, 0x7FFF'FFFF)},
                                              {kMsgTouchDown, touchBytes(0, 0)},
                                              {kMsgScroll, {0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF}}}));
}

} // namespace

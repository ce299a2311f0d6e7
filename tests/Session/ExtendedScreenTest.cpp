#include "Session/CastingFixture.h"
#include "Session/FakeVirtualDisplay.h"

#include "Socket/TouchPayload.h"
#include "Session/ExtendedScreen.h"
#include "Session/TvControlController.h"

#include <cmath>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// The extended screen's rules against a fake virtual display, in a session with a real link to a TV
// peer and fake capture; the display changes come when the test says, on the virtual clock.
class ExtendedScreenTest : public CastingFixture {
protected:
    SessionServices services() override
    {
        SessionServices s = CastingFixture::services();
        s.extendedScreen = fake.services(refusal);
        s.input.postMouseEvent = [this](uint32_t, uint32_t, double x, double y, int64_t) {
            posted.push_back(std::to_string(std::lround(x)) + "," + std::to_string(std::lround(y)));
            return true;
        };
        return s;
    }

    ExtendedScreen& extended() { return controller->extendedScreen(); }
    size_t refreshes() const { return view.callsStartingWith("setExtendSnapshot").size(); }

    // The displays change and the change's work is done.
    void changeTo(VirtualDisplay::Layout layout, int height)
    {
        loop->advance(5s);
        fake.setLayout(layout, height);
        fake.changed();
        loop->advance(ExtendedScreen::kDisplayChangeDelay);
    }

    bool placedAs(const std::vector<std::string>& placements)
    {
        loop->runUntil([&] { return fake.placements().size() >= placements.size(); });
        return fake.placements() == placements;
    }

    // A cast of the extended screen, answered at 1920 x 1080.
    void castExtended()
    {
        loop->advance(ExtendedScreen::kDisplayChangeDelay);
        connect();
        state().screenType = kScreenTypeExtendedScreen;
        casting().startScreenSharing(state().screenWidth, state().screenHeight);
        state().screenWidth = state().screenHeight = state().screenFps = 0;
        answer(0);
    }

    std::string lastVideoStart() const
    {
        std::string last;
        for (const auto& event : media.events())
            if (event.starts_with("video start"))
                last = event;
        return last;
    }

    // The TV's touch at (x, y) as the link delivers it; where it was posted.
    std::string touchAt(int32_t x, int32_t y)
    {
        posted.clear();
        const auto payload = TouchPayload{x, y, 0, 0}.encodeLittleEndian();
        controller->tvControl().onTvcontrolReceived(kMsgTouchMove, payload.data(), static_cast<int64_t>(payload.size()));
        loop->runUntilIdle();
        return posted.empty() ? std::string{} : posted.front();
    }

    FakeVirtualDisplay fake;
    std::string refusal;
    std::vector<std::string> posted;
};

TEST_F(ExtendedScreenTest, MadeAsTheWindowLoadsShownASecondLaterAndRemovedWithTheController)
{
    EXPECT_TRUE(fake.exists());
    EXPECT_EQ(view.last("setExtendAvailable"), "setExtendAvailable 1");
    loop->advance(ExtendedScreen::kDisplayChangeDelay - 1ms);
    EXPECT_EQ(refreshes(), 0u) << "its appearance is a display change, handled a second later";
    loop->advance(1ms);
    EXPECT_EQ(view.last("setExtendSnapshot"), "setExtendSnapshot 1920x1080");
    EXPECT_FALSE(state().isMirrorStatus);
    controller.reset();
    EXPECT_FALSE(fake.exists());
}

// The time is stamped when a change is accepted: the second change, half a second after the first,
// falls inside the first one's second and makes no refresh of its own.
TEST_F(ExtendedScreenTest, TwoChangesHalfASecondApartGiveOneRefresh)
{
    loop->advance(5s);
    const size_t before = refreshes();
    fake.changed();
    loop->advance(500ms);
    fake.changed();
    loop->advance(5s);
    EXPECT_EQ(refreshes(), before + 1);

    fake.changed();
    loop->advance(ExtendedScreen::kDisplayChangeDelay);
    EXPECT_EQ(refreshes(), before + 2) << "a change a second after the last accepted one is handled";
}

TEST_F(ExtendedScreenTest, PlacedRightOfTheMainDisplayWithTheBottomsMetWhenTaller)
{
    changeTo({1, {0, 0, 1920, 1080}, PixelRect{2500, 100, 1920, 1440}}, 1440);
    EXPECT_TRUE(placedAs({"1920,-360"})) << "taller";
    changeTo({1, {0, 0, 1920, 1080}, PixelRect{2500, 100, 1920, 1080}}, 1080);
    EXPECT_TRUE(placedAs({"1920,-360", "1920,0"})) << "equal";
    changeTo({1, {0, 0, 2560, 1440}, PixelRect{0, 1440, 1920, 1080}}, 1080);
    EXPECT_TRUE(placedAs({"1920,-360", "1920,0", "2560,0"})) << "smaller";
    changeTo({1, {0, 0, 2560, 1440}, PixelRect{2560, 0, 1920, 1080}}, 1080);
    EXPECT_TRUE(placedAs({"1920,-360", "1920,0", "2560,0"})) << "in place already";
}

TEST_F(ExtendedScreenTest, NotBesideTheMainDisplayIsTheMirrorCaseAndStaysWhereItIs)
{
    const PixelRect main{0, 0, 1920, 1080};
    changeTo({1, main, main}, 1080);
    EXPECT_TRUE(state().isMirrorStatus) << "showing what the main display shows";
    changeTo({1, main, std::nullopt}, 1080);
    EXPECT_TRUE(state().isMirrorStatus) << "gone from the screens";
    changeTo({FakeVirtualDisplay::kId, {1920, 0, 1920, 1080}, PixelRect{1920, 0, 1920, 1080}}, 1080);
    EXPECT_TRUE(state().isMirrorStatus) << "become the main display";
    loop->runUntilIdle();
    EXPECT_TRUE(fake.placements().empty());
    changeTo({1, main, PixelRect{1920, 0, 1920, 1080}}, 1080);
    EXPECT_FALSE(state().isMirrorStatus);
}

TEST_F(ExtendedScreenTest, AnExtendedCastCapturesTheVirtualDisplayWhereTheTouchesLand)
{
    castExtended();
    EXPECT_EQ(lastVideoStart(), "video start 1920x1080@30 type=1 screen=" + std::to_string(FakeVirtualDisplay::kId));
    ASSERT_TRUE(casting().touchArea());
    EXPECT_EQ(casting().touchArea()->display, (PixelRect{1920, 0, 1920, 1080}));

    // Mirrored while casting: capture restarts, and the touches are not shifted any more.
    const size_t starts = countEvents("video start");
    changeTo({1, {0, 0, 1920, 1080}, PixelRect{0, 0, 1920, 1080}}, 1080);
    EXPECT_EQ(countEvents("video start"), starts + 1);
    ASSERT_TRUE(casting().touchArea());
    EXPECT_EQ(casting().touchArea()->display, (PixelRect{0, 0, 1920, 1080}));
}

// 1.5 display pixels per cast pixel: the TV's touches are scaled, then land on the extended screen
// unless it mirrors the main display.
TEST_F(ExtendedScreenTest, TheTvsTouchesAreShiftedOntoTheExtendedScreenUnlessItMirrors)
{
    fake.setLayout({1, {0, 0, 2880, 1620}, PixelRect{2880, 0, 2880, 1620}}, 1620);
    castExtended();
    EXPECT_EQ(touchAt(100, 50), "3030,75");
    changeTo({1, {0, 0, 2880, 1620}, PixelRect{0, 0, 2880, 1620}}, 1620);
    ASSERT_TRUE(state().isMirrorStatus);
    EXPECT_EQ(touchAt(100, 50), "150,75");
}

class RefusedExtendedScreenTest : public ExtendedScreenTest {
protected:
    RefusedExtendedScreenTest() { refusal = "the X server has no RandR 1.5 monitors"; }
};

TEST_F(RefusedExtendedScreenTest, TheTileIsDisabledAndAnExtendedCastShowsTheMainDisplay)
{
    EXPECT_EQ(view.callsStartingWith("setExtendAvailable"), (std::vector<std::string>{"setExtendAvailable 0"}));
    EXPECT_FALSE(extended().available());
    loop->advance(ExtendedScreen::kDisplayChangeDelay);
    EXPECT_EQ(refreshes(), 0u);
    EXPECT_TRUE(state().isMirrorStatus);
    castExtended();
    EXPECT_EQ(lastVideoStart(), "video start 1920x1080@30 type=1 screen=7");
}

} // namespace

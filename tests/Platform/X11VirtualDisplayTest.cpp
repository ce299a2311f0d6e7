#include "GrowableXvfb.h"
#include "MainLoopFixture.h"

#include "Platform/MainQueue.h"
#include "Platform/VirtualDisplayPlacement.h"
#include "Platform/X11Display.h"
#include "Platform/X11DisplayChangeSource.h"
#include "Platform/X11ScreenCapture.h"
#include "Platform/X11TestServer.h"
#include "Platform/X11VirtualDisplay.h"

// Xlib's macros break gtest's headers that come after them.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <memory>
#include <string>

namespace {

TEST(VirtualDisplayPlacementTest, RightOfTheMainDisplayWithTopEdgesAlignedUnlessTaller)
{
    const PixelRect main{0, 0, 2560, 1440};
    EXPECT_EQ(VirtualDisplayPlacement::rightOf(main, 1440), (VirtualDisplayPlacement{2560, 0})) << "equal";
    EXPECT_EQ(VirtualDisplayPlacement::rightOf(main, 1080), (VirtualDisplayPlacement{2560, 0})) << "smaller";
    EXPECT_EQ(VirtualDisplayPlacement::rightOf(main, 1600), (VirtualDisplayPlacement{2560, -160})) << "taller";
}

// The main display 1280 x 720 on a screen that may grow to 2560 x 1440.
class X11VirtualDisplayTest : public MainLoopFixture {
protected:
    void SetUp() override
    {
        if (!GrowableXvfb::available())
            GTEST_SKIP() << "Xvfb or xrandr is not installed";
        ASSERT_TRUE(server.start()) << "Xvfb did not start";
    }

    // The screen's size as "WxH".
    std::string screenSize()
    {
        const auto display = X11Display::open(server.name());
        const auto geometry = display ? display->geometry(display->root()) : std::nullopt;
        return geometry ? std::to_string(geometry->width) + "x" + std::to_string(geometry->height) : std::string{};
    }

    GrowableXvfb server{1280, 720, 2560, 1440};
};

TEST_F(X11VirtualDisplayTest, AMonitorBesideTheMainOneUntilTheObjectGoes)
{
    ASSERT_EQ(screenSize(), "1280x720");
    auto created = X11VirtualDisplay::create(server.name());
    ASSERT_TRUE(created.display) << created.refusal;
    EXPECT_EQ(screenSize(), "2560x720") << "grown to hold it";
    const std::string monitors = server.monitors();
    EXPECT_NE(monitors.find("Monitors: 2"), std::string::npos) << monitors;
    EXPECT_NE(monitors.find("PELKOR 1280/"), std::string::npos) << monitors;
    EXPECT_NE(monitors.find("+1280+0"), std::string::npos) << monitors;

    const auto layout = created.display->layout();
    ASSERT_TRUE(layout);
    EXPECT_EQ(layout->mainFrame, (PixelRect{0, 0, 1280, 720}));
    EXPECT_EQ(layout->frame, (PixelRect{1280, 0, 1280, 720}));
    EXPECT_NE(layout->mainId, created.display->displayId());

    created.display.reset();
    EXPECT_EQ(server.monitors().find("PELKOR"), std::string::npos) << server.monitors();
    EXPECT_EQ(screenSize(), "1280x720") << "shrunk back";
}

TEST_F(X11VirtualDisplayTest, PlacedAgainItMovesAndTheScreenGrowsWithIt)
{
    auto created = X11VirtualDisplay::create(server.name());
    ASSERT_TRUE(created.display) << created.refusal;
    EXPECT_TRUE(created.display->placeAt(1280, 200));
    EXPECT_EQ(screenSize(), "2560x920");
    EXPECT_EQ(created.display->layout()->frame, (PixelRect{1280, 200, 1280, 720}));
    EXPECT_FALSE(created.display->placeAt(1290, 0)) << "past the largest screen";
    EXPECT_TRUE(created.display->placeAt(1280, -40)) << "moved into the screen";
    EXPECT_EQ(created.display->layout()->frame, (PixelRect{1280, 0, 1280, 720}));
}

TEST_F(X11VirtualDisplayTest, TheSnapshotShowsWhatIsOnTheVirtualDisplay)
{
    auto created = X11VirtualDisplay::create(server.name());
    ASSERT_TRUE(created.display) << created.refusal;
    Display* client = XOpenDisplay(server.name().c_str());
    ASSERT_NE(client, nullptr);
    const Window window = XCreateSimpleWindow(client, DefaultRootWindow(client), 1280, 0, 1280, 720, 0, 0, 0x00C000);
    XSetWindowAttributes attributes;
    attributes.override_redirect = True;
    XChangeWindowAttributes(client, window, CWOverrideRedirect, &attributes);
    XMapWindow(client, window);
    XSync(client, False);

    const BgraFrame snapshot = created.display->snapshot();
    ASSERT_EQ(snapshot.width, 1280);
    ASSERT_EQ(snapshot.height, 720);
    const uint8_t* pixel = snapshot.pixel(640, 360);
    EXPECT_EQ(pixel[0], 0x00);
    EXPECT_EQ(pixel[1], 0xC0);
    EXPECT_EQ(pixel[2], 0x00);
    XCloseDisplay(client);
}

TEST_F(X11VirtualDisplayTest, ACaptureKeepsWhereItsDisplayShowsUntilToldOrItNoLongerFits)
{
    auto created = X11VirtualDisplay::create(server.name());
    ASSERT_TRUE(created.display) << created.refusal;
    ASSERT_TRUE(created.display->placeAt(1280, 100));
    const auto display = X11Display::open(server.name());
    ASSERT_TRUE(display);
    X11ScreenCapture capture(*display);
    BgraFrame frame;
    const uint32_t id = created.display->displayId();
    ASSERT_EQ(capture.capture(id, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.capturedArea(), (PixelRect{1280, 100, 1280, 720}));

    // Moved down, the screen grown with it: the kept place still fits and is taken until the change is told.
    ASSERT_TRUE(created.display->placeAt(1280, 200));
    ASSERT_EQ(capture.capture(id, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.capturedArea(), (PixelRect{1280, 100, 1280, 720}));
    capture.displaysChanged();
    ASSERT_EQ(capture.capture(id, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.capturedArea(), (PixelRect{1280, 200, 1280, 720}));

    // Moved up and the screen shrunk: the kept place reaches past it, and the capture asks again at once.
    ASSERT_TRUE(created.display->placeAt(1280, 0));
    ASSERT_TRUE(server.xrandr({"--fb", "2560x720"}));
    ASSERT_EQ(capture.capture(id, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.capturedArea(), (PixelRect{1280, 0, 1280, 720}));
    EXPECT_EQ(frame.height, 720);
}

TEST_F(X11VirtualDisplayTest, ScreenChangesAreToldOnTheQueue)
{
    int changes = 0;
    auto source = X11DisplayChangeSource::create(MainQueue::shared(), [&] { ++changes; }, server.name());
    ASSERT_TRUE(source);
    ASSERT_TRUE(server.xrandr({"--fb", "2000x720"}));
    EXPECT_TRUE(loop->runUntil([&] { return changes > 0; }));
    source.reset();
    const int told = changes;
    ASSERT_TRUE(server.xrandr({"--fb", "1280x720"}));
    loop->runUntilIdle();
    EXPECT_EQ(changes, told) << "nothing after the source went";
}

// Xvfb started at the main display's size: its screen cannot grow.
TEST(X11VirtualDisplayRefusalTest, AScreenThatCannotGrowRefusesClearlyAndKeepsNothing)
{
    if (X11TestServer::program().empty() || !GrowableXvfb::available())
        GTEST_SKIP() << "Xvfb or xrandr is not installed";
    X11TestServer server;
    ASSERT_TRUE(server.start());
    const auto created = X11VirtualDisplay::create(server.name());
    EXPECT_FALSE(created.display);
    EXPECT_NE(created.refusal.find("cannot grow to 2560x720"), std::string::npos) << created.refusal;
    const auto monitors = Shell::run({"xrandr", "-display", server.name(), "--listmonitors"});
    ASSERT_TRUE(monitors);
    EXPECT_EQ(monitors->output.find("PELKOR"), std::string::npos) << monitors->output;
}

TEST(X11VirtualDisplayRefusalTest, AServerWithoutRandrRefuses)
{
    if (X11TestServer::program().empty())
        GTEST_SKIP() << "Xvfb is not installed";
    X11TestServer server({"-extension", "RANDR"});
    ASSERT_TRUE(server.start());
    const auto created = X11VirtualDisplay::create(server.name());
    EXPECT_FALSE(created.display);
    EXPECT_EQ(created.refusal, "the X server has no RandR 1.5 monitors");
    EXPECT_FALSE(X11DisplayChangeSource::create(MainQueue::shared(), [] {}, server.name()));
}

TEST(X11VirtualDisplayRefusalTest, NoDisplayNoVirtualDisplay)
{
    EXPECT_EQ(X11VirtualDisplay::create(":").refusal, "no X display");
}

} // namespace

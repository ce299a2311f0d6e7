#include "Platform/X11Fixture.h"
#include "Platform/X11ScreenCapture.h"
#include "Platform/X11WindowCapture.h"

#include <gtest/gtest.h>

#include <thread>

using Transfer = X11ImageGrabber::Transfer;

namespace {

constexpr uint32_t kRootColour = 0x204060;
constexpr uint32_t kWindowColour = 0x3366cc;
constexpr uint32_t kCornerColour = 0xc01020;

// Both ways a picture reaches the client must give the same pixels.
class X11CaptureTest : public X11Fixture, public testing::WithParamInterface<Transfer> {};

INSTANTIATE_TEST_SUITE_P(Transfers, X11CaptureTest, testing::Values(Transfer::kAuto, Transfer::kPlain),
                         [](const testing::TestParamInfo<Transfer>& param) {
                             return param.param == Transfer::kAuto ? "SharedMemory" : "Plain";
                         });

TEST_P(X11CaptureTest, WholeScreenOrListedDisplayHasItsSizeAndPixelsAndAnUnknownIdIsRefused)
{
    setRootColour(kRootColour);
    const Window window = showWindow(100, 50, 40, 30, kWindowColour);
    ASSERT_NE(window, 0u);

    X11ScreenCapture capture(*display, GetParam());
    EXPECT_EQ(capture.screenFrame(), (Rect{0, 0, 1280, 720}));
    BgraFrame frame;
    ASSERT_EQ(capture.capture(0, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.lastUsedShm(), GetParam() == Transfer::kAuto);
    ASSERT_EQ(frame.width, 1280);
    ASSERT_EQ(frame.height, 720);
    EXPECT_EQ(frame.stride, 1280 * 4);
    EXPECT_EQ(rgbAt(frame, 0, 0), kRootColour);
    EXPECT_EQ(rgbAt(frame, 1279, 719), kRootColour);
    EXPECT_EQ(rgbAt(frame, 100, 50), kWindowColour);
    EXPECT_EQ(rgbAt(frame, 139, 79), kWindowColour);
    EXPECT_EQ(rgbAt(frame, 140, 80), kRootColour);

    // A second capture of the same size reuses the buffer and sees the change; a listed display is
    // captured by its id.
    setRootColour(kCornerColour);
    const std::vector<X11ScreenCapture::DisplayInfo> displays = capture.displays();
    ASSERT_FALSE(displays.empty());
    EXPECT_FALSE(displays.front().name.empty());
    EXPECT_EQ(displays.front().frame, (Rect{0, 0, 1280, 720}));
    ASSERT_EQ(capture.capture(displays.front().id, frame), X11ScreenCapture::CaptureResult::kOk);
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(rgbAt(frame, 0, 0), kCornerColour);
    EXPECT_EQ(capture.capture(0x1234567, frame), X11ScreenCapture::CaptureResult::kNoSuchDisplay);
}

TEST_P(X11CaptureTest, WindowContentIsCapturedUprightAtItsSize)
{
    setRootColour(kRootColour);
    const Window window = showWindow(200, 100, 160, 90, kWindowColour);
    fill(window, 0, 0, 20, 10, kCornerColour);

    X11WindowCapture capture(*display, static_cast<uint32_t>(window), GetParam());
    BgraFrame frame;
    ASSERT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kOk);
    EXPECT_EQ(capture.lastUsedShm(), GetParam() == Transfer::kAuto);
    ASSERT_EQ(frame.width, 160);
    ASSERT_EQ(frame.height, 90);
    EXPECT_EQ(rgbAt(frame, 0, 0), kCornerColour);
    EXPECT_EQ(rgbAt(frame, 19, 9), kCornerColour);
    EXPECT_EQ(rgbAt(frame, 20, 9), kWindowColour);
    EXPECT_EQ(rgbAt(frame, 159, 89), kWindowColour);

    // Drawing and resizing after the redirection show in the next capture.
    XResizeWindow(client, window, 120, 64);
    fill(window, 0, 0, 120, 64, kCornerColour);
    ASSERT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kOk);
    EXPECT_EQ(frame.width, 120);
    EXPECT_EQ(frame.height, 64);
    EXPECT_EQ(rgbAt(frame, 119, 63), kCornerColour);

    // Moved partly off the screen, it is still captured whole.
    XMoveWindow(client, window, -60, 680);
    fill(window, 0, 0, 120, 64, kWindowColour);
    ASSERT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kOk);
    EXPECT_EQ(frame.width, 120);
    EXPECT_EQ(rgbAt(frame, 100, 50), kWindowColour);
}

TEST_P(X11CaptureTest, WindowThatIsGoneOrHiddenIsNotCapturedAndTheConnectionLivesOn)
{
    BgraFrame frame;
    X11WindowCapture never(*display, 0x1fffff0, GetParam());
    EXPECT_EQ(never.capture(frame), X11WindowCapture::CaptureResult::kWindowGone);

    const Window window = showWindow(10, 10, 64, 48, kWindowColour);
    X11WindowCapture capture(*display, static_cast<uint32_t>(window), GetParam());
    XUnmapWindow(client, window);
    XSync(client, False);
    EXPECT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kFailed);
    XMapWindow(client, window);
    fill(window, 0, 0, 64, 48, kWindowColour);
    ASSERT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kOk);
    EXPECT_EQ(rgbAt(frame, 5, 5), kWindowColour);

    XDestroyWindow(client, window);
    XSync(client, False);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(capture.capture(frame), X11WindowCapture::CaptureResult::kWindowGone) << "capture " << i;
    // The connection stays usable after the absorbed errors.
    X11ScreenCapture screen(*display, GetParam());
    EXPECT_EQ(screen.capture(0, frame), X11ScreenCapture::CaptureResult::kOk);
}

// Captures show the grabbed pixels in place; a frame still held keeps its pixels while later grabs
// go on, and after the capture and its connection are gone.
TEST_P(X11CaptureTest, HeldFramesKeepTheirPixelsThroughLaterGrabsAndTheCapturesEnd)
{
    constexpr uint32_t kColours[] = {0x102030, 0x405060, 0x708090, 0xa0b0c0};
    auto capture = std::make_unique<X11ScreenCapture>(*display, GetParam());
    BgraFrame held[std::size(kColours)];
    for (size_t i = 0; i < std::size(kColours); ++i) {
        setRootColour(kColours[i]);
        ASSERT_EQ(capture->capture(0, held[i]), X11ScreenCapture::CaptureResult::kOk);
        EXPECT_TRUE(held[i].shown());
    }
    for (size_t i = 0; i < std::size(kColours); ++i)
        EXPECT_EQ(rgbAt(held[i], 640, 360), kColours[i]) << "frame " << i;
    // Two segments at most: the grabs past them went through the connection.
    EXPECT_FALSE(capture->lastUsedShm());
    const BgraFrame copy = held[0];
    EXPECT_FALSE(copy.shown());

    // Frames let go free their segments for the next grabs.
    for (BgraFrame& frame : held)
        frame.clear();
    setRootColour(kCornerColour);
    BgraFrame frame;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(capture->capture(0, frame), X11ScreenCapture::CaptureResult::kOk);
        EXPECT_EQ(capture->lastUsedShm(), GetParam() == Transfer::kAuto) << "grab " << i;
    }
    held[0] = std::move(frame);
    capture.reset();
    display.reset();
    EXPECT_EQ(rgbAt(held[0], 1279, 719), kCornerColour);
    EXPECT_EQ(rgbAt(copy, 640, 360), kColours[0]);
}

using X11ThreadsTest = X11Fixture;

TEST_F(X11ThreadsTest, ConnectionsOfTwoThreadsKeepTheirErrorsApart)
{
    std::unique_ptr<X11Display> second = X11Display::open(server->name());
    ASSERT_TRUE(second);
    int gone = 0;
    int screens = 0;
    std::thread windowThread([&] {
        BgraFrame frame;
        for (int i = 0; i < 50; ++i) {
            // A new capture each time, so every pass asks the server and meets BadWindow.
            X11WindowCapture missing(*second, 0x1fffff0);
            gone += missing.capture(frame) == X11WindowCapture::CaptureResult::kWindowGone ? 1 : 0;
        }
    });
    X11ScreenCapture screen(*display);
    BgraFrame frame;
    for (int i = 0; i < 50; ++i) {
        screens += screen.capture(0, frame) == X11ScreenCapture::CaptureResult::kOk ? 1 : 0;
    }
    windowThread.join();
    EXPECT_EQ(gone, 50);
    EXPECT_EQ(screens, 50);
}

TEST(X11ServerLossTest, CapturesFailOnceTheServerIsGoneAndTheProcessLivesOn)
{
    if (X11TestServer::program().empty()) {
        GTEST_SKIP() << "Xvfb is not installed: X11 capture not tested";
    }
    SKIP_UNDER_THREAD_SANITIZER();
    X11TestServer server;
    ASSERT_TRUE(server.start());
    std::unique_ptr<X11Display> display = X11Display::open(server.name());
    ASSERT_TRUE(display);
    X11ScreenCapture screen(*display);
    BgraFrame frame;
    ASSERT_EQ(screen.capture(0, frame), X11ScreenCapture::CaptureResult::kOk);
    X11WindowCapture window(*display, static_cast<uint32_t>(display->root() + 1));

    server.stop();
    EXPECT_EQ(screen.capture(0, frame), X11ScreenCapture::CaptureResult::kFailed);
    EXPECT_TRUE(display->lost());
    EXPECT_EQ(screen.capture(0, frame), X11ScreenCapture::CaptureResult::kFailed);
    EXPECT_TRUE(screen.displays().empty());
    EXPECT_EQ(window.capture(frame), X11WindowCapture::CaptureResult::kFailed);
}

} // namespace

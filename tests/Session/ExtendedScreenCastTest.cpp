#include "Platform/GrowableXvfb.h"
#include "Platform/MainLoopFixture.h"
#include "Session/WithTvSimSession.h"

#include "Media/H264PictureDecoder.h"
#include "Platform/PostEvent.h"
#include "Socket/MessageType.h"
#include "Session/CastingController.h"
#include "Session/ExtendedScreen.h"
#include "Session/MainWindowController.h"
#include "Session/ConnectionController.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvSim.h"

// Xlib's macros break gtest's headers that come after them.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

extern "C" {
#include <libavutil/frame.h>
}

#include <cmath>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;

// BT.601 limited-range Y, U and V of an RGB colour.
struct Yuv {
    int y = 0;
    int u = 0;
    int v = 0;
};

Yuv yuvOf(int r, int g, int b)
{
    return {static_cast<int>(std::lround(16 + 0.257 * r + 0.504 * g + 0.098 * b)),
            static_cast<int>(std::lround(128 - 0.148 * r - 0.291 * g + 0.439 * b)),
            static_cast<int>(std::lround(128 + 0.439 * r - 0.368 * g - 0.071 * b))};
}

bool near(const Yuv& seen, const Yuv& expected)
{
    constexpr int kTolerance = 12;
    return std::abs(seen.y - expected.y) <= kTolerance && std::abs(seen.u - expected.u) <= kTolerance &&
           std::abs(seen.v - expected.v) <= kTolerance;
}

// The real program's extended screen on a private X server: the controller makes the virtual monitor,
// a test window is moved onto it, the extended screen is cast, and the frames the TV receives decode
// to that window's colour while the main display shows another. Xvfb is the server: started at its
// largest screen and showing a smaller main display, it lets the screen grow to hold the monitor as a
// real desktop does (Xvfb never grows past the size it started with).
class ExtendedScreenCastTest : public WithTvSimSession<MainLoopFixture> {
protected:
    static constexpr unsigned long kMainColour = 0x0000C0;  // blue
    static constexpr unsigned long kWindowColour = 0x00C000; // green

    void SetUp() override
    {
        if (!GrowableXvfb::available())
            GTEST_SKIP() << "Xvfb or xrandr is not installed";
        ASSERT_TRUE(server.start()) << "Xvfb did not start";
        display.emplace("DISPLAY", server.name());
        client = XOpenDisplay(server.name().c_str());
        ASSERT_NE(client, nullptr);
        XSetWindowBackground(client, DefaultRootWindow(client), kMainColour);
        XClearWindow(client, DefaultRootWindow(client));
        XSync(client, False);

        poster.emplace(server.name());
        startSession({}, [this](SessionServices& services) {
            withoutSound(services);
            services.input.postMouseEvent = [this](uint32_t button, uint32_t type, double x, double y, int64_t count) {
                posted.emplace_back(static_cast<int>(x), static_cast<int>(y));
                return poster->postMouseEvent(button, type, {x, y}, count);
            };
        });
    }

    void TearDown() override
    {
        stopSession();
        if (client != nullptr)
            XCloseDisplay(client);
    }

    // A window of the test's own connection at (x, y), 1280 x 720, in `colour`.
    Window showWindow(int x, int y, unsigned long colour)
    {
        XSetWindowAttributes attributes;
        attributes.override_redirect = True;
        attributes.background_pixel = colour;
        const Window window = XCreateWindow(client, DefaultRootWindow(client), x, y, 1280, 720, 0, CopyFromParent,
                                            InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
        XMapWindow(client, window);
        XSync(client, False);
        return window;
    }

    std::pair<int, int> pointer()
    {
        Window root = 0;
        Window child = 0;
        int x = 0;
        int y = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned mask = 0;
        XQueryPointer(client, DefaultRootWindow(client), &root, &child, &x, &y, &windowX, &windowY, &mask);
        return {x, y};
    }

    // The colour in the middle of the last picture the TV's video frames decode to.
    std::optional<Yuv> middleOfLastPicture()
    {
        H264PictureDecoder decoder;
        if (!decoder.open(H264PictureDecoder::Input::AccessUnits, false, "test"))
            return std::nullopt;
        std::optional<Yuv> middle;
        int64_t pts = 0;
        for (const auto& message : sim->received()) {
            if (message.type != kMsgVideoFrame)
                continue;
            decoder.decode(std::span<const uint8_t>(message.payload), pts++, [&](const AVFrame& picture) {
                const int x = picture.width / 2;
                const int y = picture.height / 2;
                middle = Yuv{picture.data[0][y * picture.linesize[0] + x],
                             picture.data[1][(y / 2) * picture.linesize[1] + x / 2],
                             picture.data[2][(y / 2) * picture.linesize[2] + x / 2]};
            });
        }
        return middle;
    }

    GrowableXvfb server{1280, 720, 2560, 1440};
    std::optional<ScopedEnv> display;
    Display* client = nullptr;
    std::optional<PostEvent> poster;
    // Where the TV's touches were posted.
    std::vector<std::pair<int, int>> posted;
};

TEST_F(ExtendedScreenCastTest, AWindowMovedOntoTheExtendedScreenIsWhatTheTvShows)
{
    ASSERT_TRUE(controller->extendedScreen().available());
    const std::string monitors = server.monitors();
    EXPECT_NE(monitors.find("Monitors: 2"), std::string::npos) << monitors;
    EXPECT_NE(monitors.find("PELKOR 1280/"), std::string::npos) << monitors;
    EXPECT_NE(monitors.find("+1280+0"), std::string::npos) << monitors;
    loop->advance(ExtendedScreen::kDisplayChangeDelay);
    EXPECT_FALSE(controller->state().isMirrorStatus);

    const Window window = showWindow(100, 100, kWindowColour);
    XMoveWindow(client, window, 1280, 0);
    XSync(client, False);

    controller->connection().inputIPTextField("127.0.0.1");
    ASSERT_TRUE(loop->runUntil([&] { return controller->state().ConnectWithTv; }));
    controller->state().screenType = kScreenTypeExtendedScreen;
    controller->casting().startScreenSharing(0, 0);
    ASSERT_TRUE(loop->runUntil([&] { return controller->casting().captureFormat().has_value(); }));
    ASSERT_TRUE(sim->waitForMessagesOfType(kMsgVideoFrame, 5, 20s));
    const auto touches = controller->casting().touchArea();
    ASSERT_TRUE(touches);
    EXPECT_EQ(touches->display, (PixelRect{1280, 0, 1280, 720}));
    // The TV's touch is posted on the extended screen; the X server itself keeps the pointer on its
    // outputs' area, which a monitor without an output is not part of, so the pointer stops at the
    // main display's edge.
    ASSERT_TRUE(sim->send(kMsgTouchDown, TvSim::touch(640, 360)));
    ASSERT_TRUE(loop->runUntil([&] { return !posted.empty(); }));
    EXPECT_EQ(posted.front(), std::pair(1920, 360));
    EXPECT_TRUE(loop->runUntil([&] { return pointer() == std::pair(1279, 360); }));
    ASSERT_TRUE(sim->send(kMsgTouchUp, TvSim::touch(640, 360)));

    const auto middle = middleOfLastPicture();
    ASSERT_TRUE(middle);
    const Yuv green = yuvOf(0, 0xC0, 0);
    EXPECT_TRUE(near(*middle, green)) << "Y " << middle->y << " U " << middle->u << " V " << middle->v << ", want Y "
                                      << green.y << " U " << green.u << " V " << green.v;

    controller->casting().stopScreenSharing();
    controller.reset();
    EXPECT_EQ(server.monitors().find("PELKOR"), std::string::npos) << server.monitors();
}

} // namespace

#include "Platform/PostEvent.h"
#include "Platform/X11Fixture.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <optional>
#include <thread>

namespace {

constexpr uint32_t kColour = 0x336699;

// Test windows start at (100, 100), so window and root coordinates differ.
constexpr int kLeft = 100;
constexpr int kTop = 100;

class PostEventTest : public X11Fixture {
protected:
    void SetUp() override
    {
        X11Fixture::SetUp();
        if (!IsSkipped() && !HasFatalFailure()) {
            poster = std::make_unique<PostEvent>(server->name());
        }
    }

    // A window at (kLeft, kTop) that reports the events of `mask` to the client connection.
    Window watchedWindow(long mask)
    {
        const Window window = showWindow(kLeft, kTop, 400, 300, kColour);
        XSelectInput(client, window, mask);
        XSync(client, False);
        return window;
    }

    // The window's next event of the mask, waiting up to five seconds.
    std::optional<XEvent> nextEvent(Window window, long mask)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        XEvent event;
        while (std::chrono::steady_clock::now() < deadline) {
            if (XCheckWindowEvent(client, window, mask, &event) != False) {
                return event;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return std::nullopt;
    }

    std::unique_ptr<PostEvent> poster;
};

TEST_F(PostEventTest, DisplayUnderTestHasXTest)
{
    EXPECT_TRUE(display->hasXTest());
}

TEST_F(PostEventTest, AMoveLandsThePointerOnTheRoundedRootPoint)
{
    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDragged, {321.4, 123.6}, 1));
    Window root = 0;
    Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    ASSERT_TRUE(XQueryPointer(client, DefaultRootWindow(client), &root, &child, &rootX, &rootY, &x, &y, &mask));
    EXPECT_EQ(rootX, 321);
    EXPECT_EQ(rootY, 124);
    EXPECT_EQ(mask & (Button1Mask | Button3Mask), 0u);

    // Far outside the screen, in any direction, ends at its edge.
    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDragged, {1e12, -1e12}, 1));
    ASSERT_TRUE(XQueryPointer(client, DefaultRootWindow(client), &root, &child, &rootX, &rootY, &x, &y, &mask));
    EXPECT_EQ(rootX, 1279);
    EXPECT_EQ(rootY, 0);
}

TEST_F(PostEventTest, LeftAndRightClicksReachTheWindowUnderThePointer)
{
    const long mask = ButtonPressMask | ButtonReleaseMask;
    const Window window = watchedWindow(mask);

    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDown, {kLeft + 50.0, kTop + 70.0}, 1));
    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseUp, {kLeft + 50.0, kTop + 70.0}, 1));
    ASSERT_TRUE(poster->postMouseEvent(1, PostEvent::kRightMouseDown, {kLeft + 20.0, kTop + 30.0}, 1));
    ASSERT_TRUE(poster->postMouseEvent(1, PostEvent::kRightMouseUp, {kLeft + 20.0, kTop + 30.0}, 1));

    struct Expected {
        int type;
        unsigned button;
        int x;
        int y;
    };
    for (const Expected& expected : {Expected{ButtonPress, Button1, 50, 70}, Expected{ButtonRelease, Button1, 50, 70},
                                     Expected{ButtonPress, Button3, 20, 30}, Expected{ButtonRelease, Button3, 20, 30}}) {
        const std::optional<XEvent> event = nextEvent(window, mask);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->type, expected.type);
        EXPECT_EQ(event->xbutton.button, expected.button);
        EXPECT_EQ(event->xbutton.x, expected.x);
        EXPECT_EQ(event->xbutton.y, expected.y);
        EXPECT_EQ(event->xbutton.x_root, kLeft + expected.x);
    }
}

TEST_F(PostEventTest, ADragMovesWithTheLeftButtonHeld)
{
    const long mask = ButtonPressMask | ButtonReleaseMask | Button1MotionMask;
    const Window window = watchedWindow(mask);

    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDown, {kLeft + 10.0, kTop + 10.0}, 1));
    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDragged, {kLeft + 200.0, kTop + 150.0}, 1));
    ASSERT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseUp, {kLeft + 200.0, kTop + 150.0}, 1));

    std::optional<XEvent> event = nextEvent(window, mask);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type, ButtonPress);
    // The server may report the way in more than one motion; each has the button held, the last ends
    // at the point.
    int motions = 0;
    XMotionEvent last{};
    while ((event = nextEvent(window, mask)) && event->type == MotionNotify) {
        EXPECT_NE(event->xmotion.state & Button1Mask, 0u);
        last = event->xmotion;
        ++motions;
    }
    EXPECT_GE(motions, 1);
    EXPECT_EQ(last.x, 200);
    EXPECT_EQ(last.y, 150);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type, ButtonRelease);
    EXPECT_EQ(event->xbutton.x, 200);
}

TEST_F(PostEventTest, OtherMouseTypesAndPointsThatAreNoNumbersPostNothing)
{
    EXPECT_FALSE(poster->postMouseEvent(0, 0, {10, 10}, 1));
    EXPECT_FALSE(poster->postMouseEvent(0, 5, {10, 10}, 1));
    EXPECT_FALSE(poster->postMouseEvent(0, 7, {10, 10}, 1));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(poster->postMouseEvent(0, PostEvent::kLeftMouseDown, {nan, 10}, 1));
    EXPECT_FALSE(poster->postMouseEvent(0, PostEvent::kLeftMouseDown, {10, INFINITY}, 1));
}

TEST_F(PostEventTest, PostsFromSeveralThreadsShareTheConnection)
{
    auto moves = [this](double y) {
        for (int i = 0; i < 100; ++i) {
            EXPECT_TRUE(poster->postMouseEvent(0, PostEvent::kLeftMouseDragged, {10.0 + i, y}, 1));
        }
    };
    std::thread other(moves, 20.0);
    moves(40.0);
    other.join();
}

class PostEventKeyTest : public PostEventTest, public testing::WithParamInterface<std::pair<uint16_t, KeySym>> {};

INSTANTIATE_TEST_SUITE_P(KeysTheTvSends, PostEventKeyTest,
                         testing::Values(std::pair<uint16_t, KeySym>{123, XK_Left},
                                         std::pair<uint16_t, KeySym>{124, XK_Right},
                                         std::pair<uint16_t, KeySym>{53, XK_Escape}));

TEST_P(PostEventKeyTest, AKeyReachesTheFocusedWindowAsItsKeysym)
{
    const long mask = KeyPressMask | KeyReleaseMask;
    const Window window = watchedWindow(mask);
    XSetInputFocus(client, window, RevertToPointerRoot, CurrentTime);
    XSync(client, False);

    const auto [keyCode, keysym] = GetParam();
    ASSERT_TRUE(poster->postKeyboardEvent(keyCode, true, 0x100));
    ASSERT_TRUE(poster->postKeyboardEvent(keyCode, false, 0x100));

    for (const int type : {KeyPress, KeyRelease}) {
        std::optional<XEvent> event = nextEvent(window, mask);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->type, type);
        EXPECT_EQ(XLookupKeysym(&event->xkey, 0), keysym);
    }
}

TEST_F(PostEventTest, AKeyCodeWithoutAKeyPostsNothing)
{
    const long mask = KeyPressMask | KeyReleaseMask;
    const Window window = watchedWindow(mask);
    XSetInputFocus(client, window, RevertToPointerRoot, CurrentTime);
    XSync(client, False);

    EXPECT_FALSE(poster->postKeyboardEvent(0x34, true, 0));
    EXPECT_FALSE(poster->postKeyboardEvent(0x3F, true, 0));
    EXPECT_FALSE(poster->postKeyboardEvent(0xFFFF, true, 0));
    ASSERT_TRUE(poster->postKeyboardEvent(53, true, 0));
    ASSERT_TRUE(poster->postKeyboardEvent(53, false, 0));

    // The first key the window sees is the one that was posted.
    std::optional<XEvent> event = nextEvent(window, mask);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->type, KeyPress);
    EXPECT_EQ(XLookupKeysym(&event->xkey, 0), static_cast<KeySym>(XK_Escape));
}

TEST(PostEventWithoutDisplay, EveryPostFails)
{
    {
        ScopedEnv noDisplay("DISPLAY", std::nullopt);
        PostEvent poster;
        EXPECT_FALSE(poster.postMouseEvent(0, PostEvent::kLeftMouseDown, {1, 1}, 1));
        EXPECT_FALSE(poster.postKeyboardEvent(53, true, 0));
    }
    PostEvent absent(":59999");
    EXPECT_FALSE(absent.postMouseEvent(0, PostEvent::kLeftMouseDragged, {1, 1}, 1));
    EXPECT_FALSE(absent.postKeyboardEvent(123, false, 0));
    EXPECT_FALSE(absent.postMouseEvent(0, PostEvent::kLeftMouseUp, {1, 1}, 1));
}

TEST(PostEventServerLoss, PostsFailOnceTheServerIsGone)
{
    if (X11TestServer::program().empty()) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    SKIP_UNDER_THREAD_SANITIZER();
    X11TestServer server;
    ASSERT_TRUE(server.start());
    PostEvent poster(server.name());
    ASSERT_TRUE(poster.postMouseEvent(0, PostEvent::kLeftMouseDragged, {5, 5}, 1));

    server.stop();
    EXPECT_FALSE(poster.postMouseEvent(0, PostEvent::kLeftMouseDragged, {6, 6}, 1));
    EXPECT_FALSE(poster.postKeyboardEvent(53, true, 0));
    EXPECT_FALSE(poster.postMouseEvent(0, PostEvent::kLeftMouseUp, {6, 6}, 1));
}

TEST(PostEventWithoutXTest, EveryPostFails)
{
    if (X11TestServer::program().empty()) {
        GTEST_SKIP() << "Xvfb is not installed";
    }
    X11TestServer plain({"-extension", "XTEST"});
    ASSERT_TRUE(plain.start());
    const std::unique_ptr<X11Display> display = X11Display::open(plain.name());
    ASSERT_TRUE(display);
    EXPECT_FALSE(display->hasXTest());

    PostEvent poster(plain.name());
    EXPECT_FALSE(poster.postMouseEvent(0, PostEvent::kLeftMouseDown, {1, 1}, 1));
    EXPECT_FALSE(poster.postKeyboardEvent(53, true, 0));
}

} // namespace

#include "ChildProcess.h"
#include "Platform/MainLoopFixture.h"
#include "Session/TvControlSession.h"

#include "Platform/WaylandCapture.h"
#include "Platform/WaylandPostEvent.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The TV's touches and keys through the link and the controller into a Wayland desktop, by each of
// its roads. Run by ctest's WaylandInput inside tests/wayland/wayland-session.sh --portal: headless
// sway, where the compositor's virtual devices drive a wev window, and the stand-in portal, whose log
// shows the remote-desktop calls it received.
class TvControlWaylandTest : public MainLoopFixture {
protected:
    void SetUp() override
    {
        if (std::getenv("WAYLAND_SESSION_WORK") == nullptr || std::getenv("PORTAL_LOG") == nullptr)
            GTEST_SKIP() << "runs inside tests/wayland/wayland-session.sh --portal (ctest's WaylandInput)";
        display = WaylandCapture::mainDisplay();
        ASSERT_TRUE(display) << "the compositor shows no output";
    }

    void TearDown() override { session.end(*loop); }

    // Connected and casting the compositor's output pixel for pixel (the TV's points are its pixels),
    // posting through `poster`.
    void castPostingThrough(WaylandPostEvent& poster)
    {
        InputPosting input;
        input.postMouseEvent = [&poster](uint32_t button, uint32_t type, double x, double y, int64_t count) {
            return poster.postMouseEvent(button, type, {x, y}, count);
        };
        input.postKeyboardEvent = [&poster](uint16_t key, bool down, uint64_t flags) {
            return poster.postKeyboardEvent(key, down, flags);
        };
        session.connect(*loop, CastDisplay{display->id, display->frame}, std::move(input));
        if (!HasFatalFailure())
            session.cast(*loop);
    }

    void touch(uint16_t type, int32_t x, int32_t y) { session.touch(type, x, y); }
    void key(int32_t code) { session.key(code); }

    // Serves the main loop until `read` has given a line matching each pattern, in order; the lines
    // it gave are kept in `lines`.
    bool awaitLines(const std::function<std::optional<std::string>()>& read, const std::vector<std::string>& patterns)
    {
        size_t next = 0;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (next < patterns.size() && std::chrono::steady_clock::now() < deadline) {
            loop->runUntilIdle();
            while (const auto line = read()) {
                lines.push_back(*line);
                if (next < patterns.size() && std::regex_search(*line, std::regex(patterns[next])))
                    ++next;
            }
        }
        return next == patterns.size();
    }

    std::string shown() const
    {
        std::string all;
        for (const auto& line : lines)
            all += line + "\n";
        return all;
    }

    std::optional<WaylandCapture::Display> display;
    TvControlSession session;
    std::vector<std::string> lines;
};

// wev's lines for a pointer at (x, y) on its window, which fills the output from its origin.
std::string motionAt(int x, int y)
{
    return "wl_pointer\\] motion: .*x, y: " + std::to_string(x) + "\\.0+, " + std::to_string(y) + "\\.0+";
}

TEST_F(TvControlWaylandTest, TouchesAndKeysReachAWindowThroughTheCompositorsVirtualDevices)
{
    // Line by line: wev's output goes to a pipe.
    ChildProcess wev({"stdbuf", "-oL", "wev"});
    ASSERT_TRUE(wev.running()) << "wev is not installed";
    const auto read = [&wev] { return wev.line(50ms); };
    ASSERT_TRUE(awaitLines(read, {"xdg_toplevel.*configure: width: " + std::to_string(display->frame.width)}))
        << shown();
    WaylandPostEvent poster(WaylandPostEvent::Road::kVirtualDevices);
    // The seat has no pointer or keyboard until ours exist; wev takes them once the seat says so.
    ASSERT_TRUE(poster.postMouseEvent(0, PostEvent::kLeftMouseDragged, {0, 0}, 1));
    ASSERT_TRUE(awaitLines(read, {"capabilities: pointer keyboard", "wl_keyboard.*enter"})) << shown();
    castPostingThrough(poster);
    ASSERT_FALSE(HasFatalFailure());
    touch(kMsgTouchDown, 400, 300);
    touch(kMsgTouchMove, 500, 350);
    touch(kMsgTouchUp, 5000, 9000);
    EXPECT_TRUE(awaitLines(read, {motionAt(400, 300), "button: 272 \\(left\\), state: 1 \\(pressed\\)", motionAt(500, 350),
                                  motionAt(1279, 719), "button: 272 \\(left\\), state: 0 \\(released\\)"}))
        << "wev saw:\n"
        << shown();
    // Keys come on another thread than touches: sent once the touches have landed, they come after.
    key(0xEF5E);
    EXPECT_TRUE(awaitLines(read, {"state: 1 \\(pressed\\)", "sym: Escape", "state: 0 \\(released\\)", "sym: Escape"}))
        << "wev saw:\n"
        << shown();
}

TEST_F(TvControlWaylandTest, TheRemoteDesktopPortalGetsTheTouchesAndKeysAgainstItsStream)
{
    std::ifstream log(std::getenv("PORTAL_LOG"));
    const auto read = [&log]() -> std::optional<std::string> {
        std::string line;
        if (std::getline(log, line))
            return line;
        log.clear();
        return std::nullopt;
    };
    WaylandPostEvent poster(WaylandPostEvent::Road::kPortal);
    // Posts are dropped while the portal asks the user (on a thread of its own).
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!poster.postMouseEvent(0, PostEvent::kLeftMouseDragged, {0, 0}, 1) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    castPostingThrough(poster);
    ASSERT_FALSE(HasFatalFailure());
    touch(kMsgTouchDown, 400, 300);
    touch(kMsgTouchUp, 5000, 9000);
    // This portal (version 1 of its remote desktop) keeps no grant: the question comes each run.
    EXPECT_TRUE(awaitLines(read, {"SelectDevices types=3 .*restore_data=no", "question RemoteDesktop",
                                  "NotifyPointerMotionAbsolute stream=[0-9]+ x=400 y=300",
                                  "NotifyPointerButton button=272 state=1",
                                  "NotifyPointerMotionAbsolute stream=[0-9]+ x=1279 y=719",
                                  "NotifyPointerButton button=272 state=0"}))
        << "the portal saw:\n"
        << shown();
    // The left arrow's evdev code.
    key(0xEF5B);
    EXPECT_TRUE(awaitLines(read, {"NotifyKeyboardKeycode keycode=105 state=1", "NotifyKeyboardKeycode keycode=105 state=0"}))
        << "the portal saw:\n"
        << shown();
}

} // namespace

#pragma once

#include "Platform/BgraFrame.h"
#include "Platform/X11Display.h"
#include "Platform/X11TestServer.h"

// Xlib's macros (None, Bool, Status) break gtest's headers that come after them.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdint>
#include <memory>
#include <string>

#if defined(__SANITIZE_THREAD__)
inline constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
inline constexpr bool kThreadSanitizer = __has_feature(thread_sanitizer);
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// For tests that break a connection: the request that meets the broken connection unlocks the
// display's mutex twice inside libX11 (harmless for its plain mutex, an error to ThreadSanitizer).
#define SKIP_UNDER_THREAD_SANITIZER()                                                                              \
    if (kThreadSanitizer)                                                                                          \
    GTEST_SKIP() << "libX11's handling of a broken connection is not ThreadSanitizer-clean"

// One private Xvfb per test suite; each test gets the connection under test (`display`) and, like a
// separate application, its own connection for the windows it shows (`client`), whose windows go
// with it at the end of the test.
class X11Fixture : public testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A mapped top-level window filled with `rgb` (0xRRGGBB), shown once this returns.
    Window showWindow(int x, int y, int width, int height, uint32_t rgb);
    void fill(Window window, int x, int y, int width, int height, uint32_t rgb);
    void setRootColour(uint32_t rgb);

    static X11TestServer* server;
    std::unique_ptr<X11Display> display;
    Display* client = nullptr;
};

// The pixel at (x, y) as 0xAARRGGBB.
uint32_t argbAt(const BgraFrame& frame, int x, int y);
// The colour without the fourth byte, which captured frames leave as the X server gave it.
uint32_t rgbAt(const BgraFrame& frame, int x, int y);

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

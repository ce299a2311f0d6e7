#include "Platform/X11Fixture.h"

X11TestServer* X11Fixture::server = nullptr;

void X11Fixture::SetUpTestSuite()
{
    server = new X11TestServer;
    if (!X11TestServer::program().empty()) {
        server->start();
    }
}

void X11Fixture::TearDownTestSuite()
{
    delete server;
    server = nullptr;
}

void X11Fixture::SetUp()
{
    if (X11TestServer::program().empty()) {
        GTEST_SKIP() << "Xvfb is not installed: X11 capture not tested";
    }
    ASSERT_FALSE(server->name().empty()) << "Xvfb did not start";
    display = X11Display::open(server->name());
    ASSERT_TRUE(display);
    client = XOpenDisplay(server->name().c_str());
    ASSERT_NE(client, nullptr);
}

void X11Fixture::TearDown()
{
    if (client != nullptr) {
        XCloseDisplay(client);
    }
    display.reset();
}

Window X11Fixture::showWindow(int x, int y, int width, int height, uint32_t rgb)
{
    const Window window = XCreateSimpleWindow(client, DefaultRootWindow(client), x, y, static_cast<unsigned>(width),
                                              static_cast<unsigned>(height), 0, 0, rgb);
    XMapWindow(client, window);
    fill(window, 0, 0, width, height, rgb);
    return window;
}

void X11Fixture::fill(Window window, int x, int y, int width, int height, uint32_t rgb)
{
    GC gc = XCreateGC(client, window, 0, nullptr);
    XSetForeground(client, gc, rgb);
    XFillRectangle(client, window, gc, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XFreeGC(client, gc);
    XSync(client, False);
}

void X11Fixture::setRootColour(uint32_t rgb)
{
    XSetWindowBackground(client, DefaultRootWindow(client), rgb);
    XClearWindow(client, DefaultRootWindow(client));
    XSync(client, False);
}

uint32_t argbAt(const BgraFrame& frame, int x, int y)
{
    const uint8_t* p = frame.pixel(x, y);
    return uint32_t{p[3]} << 24 | uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
}

uint32_t rgbAt(const BgraFrame& frame, int x, int y)
{
    return argbAt(frame, x, y) & 0xffffff;
}

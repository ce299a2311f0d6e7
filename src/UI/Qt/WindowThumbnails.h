#pragma once

#include <QImage>

#include <cstdint>
#include <memory>

class X11Display;
class X11ImageGrabber;

// Pictures of single windows for the picker, grabbed from the X display and scaled down. The display
// is opened with the first grab; without one every picture is null. Main thread.
class WindowThumbnails {
public:
    // A grab of a few windows this size takes a few milliseconds: small enough for the main thread.
    static constexpr int kMaxWidth = 280;
    static constexpr int kMaxHeight = 160;

    WindowThumbnails();
    ~WindowThumbnails();
    WindowThumbnails(const WindowThumbnails&) = delete;
    WindowThumbnails& operator=(const WindowThumbnails&) = delete;

    // The window's picture, fitting kMaxWidth x kMaxHeight; null when it cannot be grabbed.
    QImage thumbnail(int32_t windowId);

private:
    bool open();

    std::unique_ptr<X11Display> display_;
    std::unique_ptr<X11ImageGrabber> grabber_;
    bool tried_ = false;
};

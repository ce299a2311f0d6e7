#include "UI/Qt/WindowThumbnails.h"

#include "Platform/BgraFrame.h"
#include "Platform/X11Display.h"
#include "Platform/X11ImageGrabber.h"
#include "UI/Qt/BgraImage.h"


WindowThumbnails::WindowThumbnails() = default;

WindowThumbnails::~WindowThumbnails() = default;

bool WindowThumbnails::open()
{
    if (display_ && !display_->lost())
        return true;
    // Without X (another platform plugin, no $DISPLAY) one failed try is enough.
    if (tried_ && !display_)
        return false;
    tried_ = true;
    grabber_.reset();
    display_ = X11Display::open();
    if (!display_)
        return false;
    grabber_ = std::make_unique<X11ImageGrabber>(*display_, X11ImageGrabber::Transfer::kPlain);
    return true;
}

QImage WindowThumbnails::thumbnail(int32_t windowId)
{
    if (windowId <= 0 || !open())
        return {};
    BgraFrame frame;
    if (!grabber_->grab(static_cast<unsigned long>(windowId), std::nullopt, frame).ok || frame.empty())
        return {};
    return BgraImage::copy(frame).scaled(kMaxWidth, kMaxHeight, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

#include "Media/EncoderH264/SelectedWindowFrame.h"

SelectedWindowFrame gSelectedWindowFrame;

WindowRect SelectedWindowFrame::load() const
{
    std::lock_guard lock(mutex_);
    return frame_;
}

void SelectedWindowFrame::store(const WindowRect& frame)
{
    std::lock_guard lock(mutex_);
    frame_ = frame;
}

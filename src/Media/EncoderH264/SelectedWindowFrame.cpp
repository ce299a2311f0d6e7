#include "Media/EncoderH264/SelectedWindowFrame.h"

#include "Utils/Locked.h"

SelectedWindowFrame gSelectedWindowFrame;

WindowRect SelectedWindowFrame::load() const
{
    return lockedRead(mutex_, frame_);
}

void SelectedWindowFrame::store(const WindowRect& frame)
{
    lockedWrite(mutex_, frame_, frame);
}

#include "Media/EncoderH264/SelectedWindowFrame.h"

#include "Utils/Locked.h"

SelectedWindowFrame gSelectedWindowFrame;

Rect SelectedWindowFrame::load() const
{
    return lockedRead(mutex_, frame_);
}

void SelectedWindowFrame::store(const Rect& frame)
{
    lockedWrite(mutex_, frame_, frame);
}

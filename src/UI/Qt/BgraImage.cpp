#include "UI/Qt/BgraImage.h"

#include "Platform/BgraFrame.h"

QImage BgraImage::copy(const BgraFrame& frame)
{
    if (frame.empty())
        return {};
    // Rows of 0xAARRGGBB words, as Format_RGB32 has them.
    const QImage view(frame.bytes().data(), frame.width, frame.height, frame.stride, QImage::Format_RGB32);
    return view.copy();
}

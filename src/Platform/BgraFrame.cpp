#include "Platform/BgraFrame.h"

void BgraFrame::resize(int newWidth, int newHeight)
{
    if (newWidth < 1 || newHeight < 1) {
        width = height = stride = 0;
        pixels.clear();
        return;
    }
    width = newWidth;
    height = newHeight;
    stride = newWidth * 4;
    pixels.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
}

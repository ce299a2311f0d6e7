#pragma once

#include <QImage>

class BgraFrame;

// Captured frames as Qt images.
class BgraImage {
public:
    // A copy of the frame's pixels, which it outlives; null for an empty frame. The frame's fourth
    // byte is not alpha, so the image is opaque.
    static QImage copy(const BgraFrame& frame);
};

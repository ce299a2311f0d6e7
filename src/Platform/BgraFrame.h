#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A picture in memory: 4 bytes per pixel in the order blue, green, red, alpha (a little-endian
// 0xAARRGGBB word), rows from top to bottom, `stride` bytes apart. Captured frames are opaque.
struct BgraFrame {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<uint8_t> pixels;

    // Makes the frame width × height with packed rows; the bytes are unspecified. The buffer is kept
    // when it is large enough, so a capture loop does not allocate per frame. A size below 1 in
    // either direction gives the empty frame.
    void resize(int newWidth, int newHeight);
    bool empty() const { return width <= 0 || height <= 0; }

    // The first byte of pixel (x, y), which the caller keeps inside the frame.
    uint8_t* pixel(int x, int y) { return pixels.data() + offset(x, y); }
    const uint8_t* pixel(int x, int y) const { return pixels.data() + offset(x, y); }

private:
    size_t offset(int x, int y) const
    {
        return static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x) * 4;
    }
};

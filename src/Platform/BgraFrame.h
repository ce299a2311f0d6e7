#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

// A picture in memory: 4 bytes per pixel in the order blue, green, red, alpha (a little-endian
// 0xAARRGGBB word), rows from top to bottom, `stride` bytes apart. In captured frames the fourth
// byte is the X server's padding: nothing downstream reads it, so it is left as the server gave it.
//
// The bytes are the frame's own (resize) or shown in place (show), kept alive by an owner the frame
// holds until it lets them go: the next resize or show, a move away, or its end. A copy always owns
// its bytes. resize and show leave bytes that hold every row.
class BgraFrame {
public:
    int width = 0;
    int height = 0;
    int stride = 0;

    BgraFrame() = default;
    BgraFrame(const BgraFrame& other);
    BgraFrame& operator=(const BgraFrame& other);
    BgraFrame(BgraFrame&& other) noexcept;
    BgraFrame& operator=(BgraFrame&& other) noexcept;
    ~BgraFrame() = default;

    // Makes the frame width × height with packed rows of its own; the bytes are unspecified. Its own
    // buffer is kept when it is large enough, so a capture loop does not allocate per frame. A size
    // below 1 in either direction gives the empty frame.
    void resize(int newWidth, int newHeight);
    // Shows `bytes` as a newWidth × newHeight picture with rows `newStride` bytes apart, without a
    // copy; `owner` keeps the bytes valid and unchanged until the frame lets it go. False (the frame
    // empty) when the size is below 1, the stride is shorter than a row or the bytes miss a row.
    bool show(int newWidth, int newHeight, int newStride, std::span<uint8_t> bytes, std::shared_ptr<void> owner);
    // Makes the frame empty and lets shown bytes go; its own buffer is kept for a later resize.
    void clear();
    bool empty() const { return width <= 0 || height <= 0; }
    // Whether the bytes are shown in place rather than the frame's own.
    bool shown() const { return owner_ != nullptr; }

    std::span<uint8_t> bytes() { return bytes_; }
    std::span<const uint8_t> bytes() const { return bytes_; }
    // The first byte of pixel (x, y), which the caller keeps inside the frame.
    uint8_t* pixel(int x, int y) { return bytes_.data() + offset(x, y); }
    const uint8_t* pixel(int x, int y) const { return bytes_.data() + offset(x, y); }

private:
    size_t offset(int x, int y) const
    {
        return static_cast<size_t>(y) * static_cast<size_t>(stride) + static_cast<size_t>(x) * 4;
    }

    std::vector<uint8_t> own_;
    std::span<uint8_t> bytes_;
    std::shared_ptr<void> owner_;
};

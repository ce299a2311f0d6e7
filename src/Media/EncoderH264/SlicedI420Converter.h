#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

struct AVFrame;
struct SwsContext;

// Converts pictures (BGRA or I420, any size) into an I420 picture of its own at another or the same
// size. A BGRA picture kept at its size (or short of its odd last row or column, which the encoder
// drops) goes through libyuv on the caller's thread, several times faster than the scaler; everything
// else through libswscale, in horizontal slices of the output on a small fixed set of threads of its
// own (its slice threads, kept for as long as the sizes do). Each slice reads the whole source, so the
// result is the same as that of one thread converting the whole picture. One caller at a time.
class SlicedI420Converter {
public:
    enum class Layout { kBgra, kI420 };
    // A source picture's planes, only read: BGRA in plane 0 (the fourth byte of each pixel is not
    // read), or Y, U and V with the chroma planes (width + 1) / 2 by (height + 1) / 2. The caller
    // checks that the planes hold their rows.
    struct Source {
        Layout layout = Layout::kBgra;
        int width = 0;
        int height = 0;
        std::array<const uint8_t*, 3> planes{};
        std::array<int, 3> strides{};
    };
    // The converted picture: Y, U and V planes, each row `strides[i]` bytes apart.
    struct I420 {
        int width = 0;
        int height = 0;
        std::array<uint8_t*, 3> planes{};
        std::array<int, 3> strides{};
    };

    // Threads that each convert one slice; 1 converts on the caller's thread.
    explicit SlicedI420Converter(int threads);
    ~SlicedI420Converter();
    SlicedI420Converter(const SlicedI420Converter&) = delete;
    SlicedI420Converter& operator=(const SlicedI420Converter&) = delete;

    // Scales `source` to width x height; null, logged, when the scaler refuses the sizes. The picture
    // is valid until the next convert or the converter's end.
    const I420* convert(const Source& source, int width, int height);

    // A few threads: enough to make the conversion short beside the encoding, few enough to leave
    // the rest of the machine to the encoder's own threads between conversions.
    static int defaultThreads();

private:
    struct Shape {
        Layout layout = Layout::kBgra;
        int width = 0;
        int height = 0;
        int targetWidth = 0;
        int targetHeight = 0;
        bool operator==(const Shape&) const = default;
    };

    const I420* convertBgraAtItsSize(const Source& source, int width, int height);
    bool prepare(const Shape& shape);
    bool prepareTarget(int width, int height);

    int threads_;
    Shape shape_;
    SwsContext* scaler_ = nullptr;
    AVFrame* source_;
    AVFrame* target_;
    I420 picture_;
    std::unique_ptr<uint8_t, void (*)(void*)> buffer_;
    size_t bufferSize_ = 0;
};

#pragma once

#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Platform/BgraFrame.h"
#include "Utils/Rect.h"

#include <cstdint>
#include <vector>

struct SwsContext;

// The cast picture of a window: a black I420 canvas of the cast size with the window's picture scaled
// into it at the place WindowFit gives, keeping its aspect ratio. One thread at a time.
class LetterboxCanvas {
public:
    LetterboxCanvas(int width, int height);
    ~LetterboxCanvas();
    LetterboxCanvas(const LetterboxCanvas&) = delete;
    LetterboxCanvas& operator=(const LetterboxCanvas&) = delete;

    // Scales the picture into the canvas; the bars around it are black. False (the canvas unchanged)
    // when the picture or the canvas is too small to place, or the picture cannot be converted.
    bool place(const BgraFrame& picture);
    // The canvas, for the encoder; valid until the next place or the canvas's end.
    TzVideoEncoder::Frame frame() const;
    // Where the last picture went.
    const Rect& placement() const { return placement_; }

private:
    void clear();

    int width_;
    int height_;
    int chromaWidth_;
    int chromaHeight_;
    std::vector<uint8_t> luma_;
    std::vector<uint8_t> blue_;
    std::vector<uint8_t> red_;
    Rect placement_;
    SwsContext* scaler_ = nullptr;
};

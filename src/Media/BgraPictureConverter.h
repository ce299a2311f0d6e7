#pragma once

#include "Platform/BgraFrame.h"

#include <memory>

struct AVFrame;
struct SwsContext;

// Turns decoded pictures into BGRA frames of the same size (alpha opaque, rows 64-byte aligned),
// the form the window draws without a further copy. Keeps its scaler between pictures of one size and
// format. Owned by one thread at a time.
class BgraPictureConverter {
public:
    BgraPictureConverter() = default;
    ~BgraPictureConverter();
    BgraPictureConverter(const BgraPictureConverter&) = delete;
    BgraPictureConverter& operator=(const BgraPictureConverter&) = delete;

    // A new frame holding picture; nullptr (logged) when the scaler refuses its size or format.
    std::shared_ptr<const BgraFrame> convert(const AVFrame& picture);

private:
    SwsContext* scaler_ = nullptr;
};

#include "Platform/BgraFrame.h"

#include <cstring>
#include <utility>

BgraFrame::BgraFrame(const BgraFrame& other)
{
    *this = other;
}

BgraFrame& BgraFrame::operator=(const BgraFrame& other)
{
    if (this == &other) {
        return *this;
    }
    resize(other.width, other.height);
    const size_t row = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; ++y) {
        std::memcpy(pixel(0, y), other.pixel(0, y), row);
    }
    return *this;
}

BgraFrame::BgraFrame(BgraFrame&& other) noexcept
{
    *this = std::move(other);
}

BgraFrame& BgraFrame::operator=(BgraFrame&& other) noexcept
{
    if (this == &other) {
        return *this;
    }
    width = std::exchange(other.width, 0);
    height = std::exchange(other.height, 0);
    stride = std::exchange(other.stride, 0);
    // A moved vector keeps its buffer, so a view of it stays valid in its new home.
    own_ = std::move(other.own_);
    bytes_ = std::exchange(other.bytes_, {});
    owner_ = std::move(other.owner_);
    other.own_.clear();
    return *this;
}

void BgraFrame::clear()
{
    width = height = stride = 0;
    bytes_ = {};
    owner_.reset();
}

void BgraFrame::resize(int newWidth, int newHeight)
{
    clear();
    if (newWidth < 1 || newHeight < 1) {
        own_.clear();
        return;
    }
    width = newWidth;
    height = newHeight;
    stride = newWidth * 4;
    own_.resize(static_cast<size_t>(stride) * static_cast<size_t>(height));
    bytes_ = own_;
}

bool BgraFrame::show(int newWidth, int newHeight, int newStride, std::span<uint8_t> bytes,
                     std::shared_ptr<void> owner)
{
    clear();
    if (newWidth < 1 || newHeight < 1 || newStride / 4 < newWidth
        || bytes.size() / static_cast<size_t>(newStride) < static_cast<size_t>(newHeight)) {
        return false;
    }
    width = newWidth;
    height = newHeight;
    stride = newStride;
    bytes_ = bytes.first(static_cast<size_t>(newStride) * static_cast<size_t>(newHeight));
    owner_ = std::move(owner);
    return true;
}

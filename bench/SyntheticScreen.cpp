#include "SyntheticScreen.h"

#include <cstring>

SyntheticScreen::SyntheticScreen(int width, int height) : width_(width), height_(height), box_(height * 8 / 27)
{
    backdrop_.resize(width_, height_);
    for (int y = 0; y < height_; ++y) {
        for (int x = 0; x < width_; ++x) {
            uint8_t* pixel = backdrop_.pixel(x, y);
            pixel[0] = static_cast<uint8_t>(x * 255 / width_);
            pixel[1] = static_cast<uint8_t>(y * 255 / height_);
            pixel[2] = static_cast<uint8_t>((x / (width_ / 8) + y / (height_ / 8)) % 2 ? 200 : 60);
            pixel[3] = 0xFF;
        }
    }
    frame_ = backdrop_;
}

const BgraFrame& SyntheticScreen::draw(int index)
{
    restore(corner_);
    corner_ = {(index * 24) % (width_ - box_), (index * 12) % (height_ - box_ - band_)};
    fill(corner_.x, corner_.y, box_, box_, static_cast<uint8_t>(index * 7));
    fill(0, height_ - band_, width_, band_, static_cast<uint8_t>(index * 3));
    return frame_;
}

void SyntheticScreen::restore(Corner box)
{
    for (int y = box.y; y < box.y + box_; ++y)
        std::memcpy(frame_.pixel(box.x, y), backdrop_.pixel(box.x, y), size_t(box_) * 4);
}

void SyntheticScreen::fill(int left, int top, int width, int height, uint8_t shade)
{
    for (int y = top; y < top + height; ++y) {
        for (int x = left; x < left + width; ++x) {
            uint8_t* pixel = frame_.pixel(x, y);
            pixel[0] = shade;
            pixel[1] = static_cast<uint8_t>(255 - shade);
            pixel[2] = static_cast<uint8_t>(shade ^ x);
        }
    }
}

#pragma once

#include "Platform/BgraFrame.h"

// A desktop-like picture: a fixed backdrop of gradients with a box sliding across it and a band
// that changes every frame. Only what moves is redrawn, so a frame costs little beside encoding it.
class SyntheticScreen {
public:
    SyntheticScreen(int width, int height);

    // Frame `index`; valid until the next draw.
    const BgraFrame& draw(int index);

private:
    struct Corner {
        int x = 0;
        int y = 0;
    };

    void restore(Corner box);
    void fill(int left, int top, int width, int height, uint8_t shade);

    int width_;
    int height_;
    int box_;
    int band_ = 48;
    BgraFrame backdrop_;
    BgraFrame frame_;
    Corner corner_;
};

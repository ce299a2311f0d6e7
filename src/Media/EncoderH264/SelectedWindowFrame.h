#pragma once

#include "Utils/Rect.h"

#include <mutex>

// The current frame of the window chosen for casting: written by the window picker on every poll
// of the window list, read by the window capture to place the cursor. Any thread; a reader never
// sees half of a rectangle.
class SelectedWindowFrame {
public:
    Rect load() const;
    void store(const Rect& frame);

private:
    mutable std::mutex mutex_;
    Rect frame_;
};

// All zero at start.
extern SelectedWindowFrame gSelectedWindowFrame;

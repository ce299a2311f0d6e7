#pragma once

#include <cstddef>

// What the quality picker shows. Main thread.
class QualityWindowView {
public:
    virtual ~QualityWindowView() = default;

    // The check mark of the entry at index (0 automatic, 1 1080P, 2 720P, 3 2K) shown, the others hidden.
    virtual void showCheckMark(size_t index) = 0;
    // The window in front, centred on the screen.
    virtual void showWindow() = 0;
    virtual void closeWindow() = 0;
};

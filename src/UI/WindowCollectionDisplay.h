#pragma once

#include <cstddef>

// What the window picker shows: the grid of windows and the Extend tile. Main thread.
class WindowCollectionDisplay {
public:
    virtual ~WindowCollectionDisplay() = default;
    // The grid asks the picker for its windows again (count, records, thumbnails); no item selected.
    virtual void reloadData() = 0;
    // The item at `index` shown selected, the others not; no choice is reported for it.
    virtual void selectItem(size_t index) = 0;
    virtual void deselectAll() = 0;
    // The Extend tile blue with a white label (chosen), or window grey with a black one.
    virtual void showExtendSelected(bool selected) = 0;
};

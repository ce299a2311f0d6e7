#pragma once

class BgraFrame;

// The window picker's Extend tile, as the extended screen drives it. Main thread.
class ExtendTileView {
public:
    virtual ~ExtendTileView() = default;

    // What the extended screen (or the main display, when it cannot be taken) shows now.
    virtual void setExtendSnapshot(const BgraFrame& snapshot) = 0;
    // False where no extended screen could be made: the tile is disabled and its tip says why.
    virtual void setExtendAvailable(bool available) = 0;
};

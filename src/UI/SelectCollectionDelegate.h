#pragma once

#include <memory>

class windowInfo;

// Told by the window picker which source the user chose. Main thread.
class SelectCollectionDelegate {
public:
    virtual ~SelectCollectionDelegate() = default;
    virtual void selectWindow(std::shared_ptr<windowInfo> window) = 0;
    // The Extend tile: the extended screen.
    virtual void selectExpand() = 0;
};

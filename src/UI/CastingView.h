#pragma once

// What casting shows in the main window: the connected page's buttons in the casting and idle states.
// Main thread.
class CastingView {
public:
    virtual ~CastingView() = default;
};

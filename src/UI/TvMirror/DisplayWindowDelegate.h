#pragma once

// Told when the user closes the TV-screen window. Main thread.
class DisplayWindowDelegate {
public:
    virtual ~DisplayWindowDelegate() = default;
    virtual void displayWindowWillClose() = 0;
};

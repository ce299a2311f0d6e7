#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

struct _XDisplay;
class X11Display;

// Posts mouse and keyboard events into the input stream of an X display (XTest), as if the user
// made them. The connection is opened on first use and serialised, so any thread may post; each
// event has reached the server (and its errors are collected) before the call returns. Without a
// display or without XTest every post returns false, logged once; a connection that broke is opened
// anew.
class PostEvent {
public:
    // Mouse event types, as the TV's control of the computer names them.
    enum MouseType : uint32_t {
        kLeftMouseDown = 1,
        kLeftMouseUp = 2,
        kRightMouseDown = 3,
        kRightMouseUp = 4,
        kLeftMouseDragged = 6,
    };

    struct Point {
        double x = 0;
        double y = 0;
    };

    // The display being cast: $DISPLAY.
    static PostEvent& shared();

    // Posts to the X display `displayName` names; $DISPLAY when empty.
    explicit PostEvent(std::string displayName = {});
    ~PostEvent();
    PostEvent(const PostEvent&) = delete;
    PostEvent& operator=(const PostEvent&) = delete;

    // Moves the pointer to `point` (root-window coordinates, origin at the screen's top left), then
    // presses or releases the button the type names; a drag is a motion with the left button held.
    // The button follows from the type. X clients tell double clicks by timing, so the click count
    // has no counterpart and is not used. False for another type or when nothing could be posted.
    bool postMouseEvent(uint32_t button, uint32_t type, Point point, int64_t clickCount);
    // Presses or releases the key of a Mac virtual key code (MacKeyCodes). No caller sends
    // modifiers, so the flags are not used. False, with nothing posted, for a code with no key in
    // the table or in the display's keymap.
    bool postKeyboardEvent(uint16_t keyCode, bool keyDown, uint64_t flags);

private:
    // With the lock held: the connection, opened when there is none or it broke; null when none can
    // be had.
    X11Display* connection();
    // Under the lock, makes the requests of one event on the connection and waits for the server to
    // take them; false when there is no connection, request declines, or the server refused them.
    bool post(const char* what, const std::function<bool(_XDisplay*)>& request);

    const std::string displayName_;
    std::mutex mutex_;
    std::unique_ptr<X11Display> display_;
    bool unavailable_ = false;
};

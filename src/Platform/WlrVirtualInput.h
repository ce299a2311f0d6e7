#pragma once

#include "Utils/Rect.h"
#include "Platform/WaylandConnection.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class XkbKeymap;
struct zwlr_virtual_pointer_v1;
struct zwp_virtual_keyboard_v1;

// A pointer and a keyboard of our own on a wlroots compositor (its virtual pointer and virtual
// keyboard protocols): input that lands as a device's would. One thread at a time.
class WlrVirtualInput {
public:
    // Null (logged) when no compositor answers or it lacks either protocol or a seat.
    static std::unique_ptr<WlrVirtualInput> open(const std::string& socket = {});
    ~WlrVirtualInput();
    WlrVirtualInput(const WlrVirtualInput&) = delete;
    WlrVirtualInput& operator=(const WlrVirtualInput&) = delete;

    // The pointer to (x, y) in the layout's pixels (outputs as WaylandConnection gives them); a
    // point outside every output is kept on the nearest edge of the layout.
    bool moveTo(double x, double y);
    // A button of linux/input-event-codes.h (BTN_LEFT, BTN_RIGHT).
    bool button(uint32_t code, bool pressed);
    // A key by its evdev code, in the layout XkbKeymap::makeDefault gives (the keyboard's own).
    bool key(uint32_t evdevCode, bool pressed);

private:
    WlrVirtualInput(std::unique_ptr<WaylandConnection> connection, zwlr_virtual_pointer_v1* pointer,
                    zwp_virtual_keyboard_v1* keyboard, std::unique_ptr<XkbKeymap> keymap);
    // Sends what is queued; false once the compositor went.
    bool flush();
    uint32_t now() const;

    std::unique_ptr<WaylandConnection> connection_;
    zwlr_virtual_pointer_v1* pointer_ = nullptr;
    zwp_virtual_keyboard_v1* keyboard_ = nullptr;
    std::unique_ptr<XkbKeymap> keymap_;
};

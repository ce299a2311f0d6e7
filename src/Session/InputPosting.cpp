#include "Session/InputPosting.h"

#include "Platform/DisplaySession.h"
#include "Platform/PostEvent.h"
#include "Platform/WaylandPostEvent.h"

InputPosting InputPosting::withDefaults() const
{
    InputPosting posting = *this;
    const bool wayland = DisplaySession::current() == DisplaySession::Kind::kWayland;
    if (!posting.postMouseEvent)
        posting.postMouseEvent = [wayland](uint32_t button, uint32_t type, double x, double y, int64_t clickCount) {
            return wayland ? WaylandPostEvent::shared().postMouseEvent(button, type, {x, y}, clickCount)
                           : PostEvent::shared().postMouseEvent(button, type, {x, y}, clickCount);
        };
    if (!posting.postKeyboardEvent)
        posting.postKeyboardEvent = [wayland](uint16_t keyCode, bool keyDown, uint64_t flags) {
            return wayland ? WaylandPostEvent::shared().postKeyboardEvent(keyCode, keyDown, flags)
                           : PostEvent::shared().postKeyboardEvent(keyCode, keyDown, flags);
        };
    return posting;
}

#include "Session/InputPosting.h"

#include "Platform/PostEvent.h"

InputPosting InputPosting::withDefaults() const
{
    InputPosting posting = *this;
    if (!posting.postMouseEvent)
        posting.postMouseEvent = [](uint32_t button, uint32_t type, double x, double y, int64_t clickCount) {
            return PostEvent::shared().postMouseEvent(button, type, {x, y}, clickCount);
        };
    if (!posting.postKeyboardEvent)
        posting.postKeyboardEvent = [](uint16_t keyCode, bool keyDown, uint64_t flags) {
            return PostEvent::shared().postKeyboardEvent(keyCode, keyDown, flags);
        };
    return posting;
}

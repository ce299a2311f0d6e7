#include "UI/InputPosting.h"

#include "Utils/Log.h"

InputPosting InputPosting::withDefaults() const
{
    InputPosting posting = *this;
    if (!posting.postMouseEvent)
        posting.postMouseEvent = [](uint32_t, uint32_t type, double x, double y, int64_t) {
            PLOG("no input posting: mouse event %u at %.0f,%.0f dropped", type, x, y);
            return false;
        };
    if (!posting.postKeyboardEvent)
        posting.postKeyboardEvent = [](uint16_t keyCode, bool, uint64_t) {
            PLOG("no input posting: key %u dropped", keyCode);
            return false;
        };
    return posting;
}

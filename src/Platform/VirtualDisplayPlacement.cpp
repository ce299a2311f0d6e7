#include "Platform/VirtualDisplayPlacement.h"

#include <algorithm>

VirtualDisplayPlacement VirtualDisplayPlacement::rightOf(const Rect& main, int height)
{
    return {main.x + main.width, main.y + std::min(0, main.height - height)};
}

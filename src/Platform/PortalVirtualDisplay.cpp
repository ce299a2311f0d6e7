#include "Platform/PortalVirtualDisplay.h"

PortalVirtualDisplay::PortalVirtualDisplay(uint32_t mainId, Rect main) : mainId_(mainId), main_(main) {}

std::optional<VirtualDisplay::Layout> PortalVirtualDisplay::layout()
{
    return Layout{mainId_, main_, Rect{main_.x + main_.width, main_.y, main_.width, main_.height}};
}

bool PortalVirtualDisplay::placeAt(int, int)
{
    return true;
}

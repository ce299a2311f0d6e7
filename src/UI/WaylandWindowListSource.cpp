#include "UI/WaylandWindowListSource.h"

#include "Utils/LocalizedText.h"

std::vector<WindowListSource::Window> WaylandWindowListSource::onScreenWindows()
{
    // The window is only known once the user chose it: the tile has no frame of its own.
    const std::string label = LocalizedText::text("STRING_CHOOSE_WINDOW_TILE");
    return {Window{kChosenByDesktop, label, label, {}}};
}

#include "Session/CastMedia.h"

#include "Platform/DisplaySession.h"
#include "Platform/WaylandCapture.h"
#include "Platform/X11Display.h"
#include "Platform/X11ScreenCapture.h"
#include "Session/AudioManagerSoundSource.h"
#include "Session/RecordManagerLink.h"
#include "Session/RecordManagerVideoSource.h"

namespace {

std::optional<CastDisplay> primaryDisplay()
{
    const auto display = X11Display::open();
    if (!display)
        return std::nullopt;
    X11ScreenCapture screen(*display);
    const auto displays = screen.displays();
    if (!displays.empty())
        return CastDisplay{displays.front().id, displays.front().frame};
    const Rect whole = screen.screenFrame();
    if (whole.width <= 0 || whole.height <= 0)
        return std::nullopt;
    return CastDisplay{0, whole};
}

std::optional<CastDisplay> waylandDisplay()
{
    const auto display = WaylandCapture::mainDisplay();
    return display ? std::optional(CastDisplay{display->id, display->frame}) : std::nullopt;
}

} // namespace

CastMedia CastMedia::withDefaults(TCPManager& link) const
{
    CastMedia media = *this;
    const bool wayland = DisplaySession::current() == DisplaySession::Kind::kWayland;
    if (!media.makeVideoSource)
        media.makeVideoSource = [&link, wayland] {
            return std::make_unique<RecordManagerVideoSource>(recordManagerLink(link), std::string{},
                                                              wayland ? WaylandCapture::factory() : nullptr);
        };
    if (!media.makeSoundSource)
        media.makeSoundSource = [] { return std::make_unique<AudioManagerSoundSource>(); };
    if (!media.mainDisplay)
        media.mainDisplay = wayland ? waylandDisplay : primaryDisplay;
    return media;
}

#include "Session/CastMedia.h"

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
    const PixelRect whole = screen.screenFrame();
    if (whole.width <= 0 || whole.height <= 0)
        return std::nullopt;
    return CastDisplay{0, whole};
}

} // namespace

CastMedia CastMedia::withDefaults(TCPManager& link) const
{
    CastMedia media = *this;
    if (!media.makeVideoSource)
        media.makeVideoSource = [&link] {
            return std::make_unique<RecordManagerVideoSource>(recordManagerLink(link), std::string{});
        };
    if (!media.makeSoundSource)
        media.makeSoundSource = [] { return std::make_unique<AudioManagerSoundSource>(); };
    if (!media.mainDisplay)
        media.mainDisplay = primaryDisplay;
    return media;
}

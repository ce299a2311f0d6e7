#pragma once

#include "Utils/Rect.h"
#include "Session/CastSoundSource.h"
#include "Session/CastVideoSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class TCPManager;

// The display a screen cast shows: the id its capture takes, and where it lies in the X screen (where
// the TV's touches land).
struct CastDisplay {
    uint32_t id = 0;
    Rect frame;
};

// Where casting gets its media and its display from. Each is called on the main thread when capture
// starts; an empty member takes the default.
struct CastMedia {
    // Default: RecordManager capturing $DISPLAY (in a Wayland session, its capture roads), bound to the link.
    std::function<std::unique_ptr<CastVideoSource>()> makeVideoSource;
    // Default: AudioManager on the loopback device. A null result casts without sound.
    std::function<std::unique_ptr<CastSoundSource>()> makeSoundSource;
    // Default: the primary display of $DISPLAY (the whole screen without RandR; in a Wayland session
    // the compositor's first output); nullopt when there is no display.
    std::function<std::optional<CastDisplay>()> mainDisplay;

    // This, with the defaults bound to `link` in place of what is empty.
    CastMedia withDefaults(TCPManager& link) const;
};

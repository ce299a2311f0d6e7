#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Whether the frontmost program shows a slideshow, told to the TV as kMsgPresentationState when the
// system's presentation options change. Pure function; the caller finds the program's identifier.
class PresentationRule {
public:
    // The key path of the presentation options; changes of any other are ignored.
    static constexpr const char* kKeyPath = "currentSystemPresentationOptions";
    // Options of a running slideshow: hidden dock and menu bar, and for one program also no
    // process switching.
    static constexpr int64_t kKeynoteSlideshow = 42;
    static constexpr int64_t kPowerpointSlideshow = 10;

    // 1 or 0 for a program whose identifier holds "Keynote" or else "Powerpoint" (any case),
    // nullopt for any other program (nothing is sent).
    static std::optional<int32_t> stateFor(const std::string& bundleId, int64_t options);
};

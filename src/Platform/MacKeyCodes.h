#pragma once

#include <cstdint>
#include <optional>

// The Mac virtual key codes that the TV link speaks (positions on the ANSI keyboard: 0x00 is the key
// of "A", 0x7B the left arrow) and the X keysyms of the same keys: the keys of the keyboard table
// that forwards keys to the TV. A key has the keysym it gives unshifted and may have a second one
// it gives with shift or with num lock off (US layout).
class MacKeyCodes {
public:
    // The key that gives this keysym; nullopt for a keysym of no key the table knows.
    static std::optional<uint16_t> fromKeysym(uint32_t keysym);
    // The keysym the key gives unshifted; nullopt for a code the table does not know.
    static std::optional<uint32_t> toKeysym(uint16_t keyCode);
};

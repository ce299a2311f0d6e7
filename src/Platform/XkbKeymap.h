#pragma once

#include <cstdint>
#include <memory>
#include <optional>

struct xkb_context;
struct xkb_keymap;

// A keyboard layout (the rules' defaults: US) that names keys by what they type: Wayland's virtual
// devices and the remote-desktop portal take evdev key codes, the TV's keys come as keysyms.
class XkbKeymap {
public:
    // Null (logged) when no layout can be compiled.
    static std::unique_ptr<XkbKeymap> makeDefault();
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap&) = delete;
    XkbKeymap& operator=(const XkbKeymap&) = delete;

    // The evdev code of the key that gives `keysym` unshifted; nullopt when no key does.
    std::optional<uint32_t> evdevKeyOf(uint32_t keysym) const;
    // The layout as text in shared memory (the caller closes it), its size with the ending zero in
    // `size`; -1 on failure.
    int sharedText(uint32_t& size) const;

private:
    XkbKeymap(xkb_context* context, xkb_keymap* keymap);

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
};

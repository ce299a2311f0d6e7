#include "Platform/XkbKeymap.h"

#include "Utils/Log.h"

#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

// The evdev code of a key is its XKB keycode less this.
constexpr uint32_t kXkbOffset = 8;

} // namespace

std::unique_ptr<XkbKeymap> XkbKeymap::makeDefault()
{
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = context ? xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (keymap == nullptr) {
        PLOG("no keyboard layout could be compiled (xkbcommon)");
        xkb_context_unref(context);
        return nullptr;
    }
    return std::unique_ptr<XkbKeymap>(new XkbKeymap(context, keymap));
}

XkbKeymap::XkbKeymap(xkb_context* context, xkb_keymap* keymap) : context_(context), keymap_(keymap) {}

XkbKeymap::~XkbKeymap()
{
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::optional<uint32_t> XkbKeymap::evdevKeyOf(uint32_t keysym) const
{
    const xkb_keycode_t last = xkb_keymap_max_keycode(keymap_);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(keymap_); code <= last; ++code) {
        const xkb_keysym_t* syms = nullptr;
        const int count = xkb_keymap_key_get_syms_by_level(keymap_, code, 0, 0, &syms);
        for (int i = 0; i < count; ++i) {
            if (syms[i] == keysym && code >= kXkbOffset)
                return code - kXkbOffset;
        }
    }
    return std::nullopt;
}

int XkbKeymap::sharedText(uint32_t& size) const
{
    char* text = xkb_keymap_get_as_string(keymap_, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (text == nullptr)
        return -1;
    size = static_cast<uint32_t>(std::strlen(text) + 1);
    int fd = memfd_create("pelkor-keymap", MFD_CLOEXEC);
    if (fd >= 0 && write(fd, text, size) != static_cast<ssize_t>(size)) {
        close(fd);
        fd = -1;
    }
    std::free(text);
    return fd;
}

#include "Platform/MacKeyCodes.h"

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <array>

namespace {

struct Key {
    uint16_t code;
    uint32_t keysym;       // unshifted
    uint32_t other = NoSymbol;  // shifted, or with num lock off
};

constexpr std::array kKeys{
    // letters
    Key{0x00, XK_a, XK_A}, Key{0x0B, XK_b, XK_B}, Key{0x08, XK_c, XK_C}, Key{0x02, XK_d, XK_D},
    Key{0x0E, XK_e, XK_E}, Key{0x03, XK_f, XK_F}, Key{0x05, XK_g, XK_G}, Key{0x04, XK_h, XK_H},
    Key{0x22, XK_i, XK_I}, Key{0x26, XK_j, XK_J}, Key{0x28, XK_k, XK_K}, Key{0x25, XK_l, XK_L},
    Key{0x2E, XK_m, XK_M}, Key{0x2D, XK_n, XK_N}, Key{0x1F, XK_o, XK_O}, Key{0x23, XK_p, XK_P},
    Key{0x0C, XK_q, XK_Q}, Key{0x0F, XK_r, XK_R}, Key{0x01, XK_s, XK_S}, Key{0x11, XK_t, XK_T},
    Key{0x20, XK_u, XK_U}, Key{0x09, XK_v, XK_V}, Key{0x0D, XK_w, XK_W}, Key{0x07, XK_x, XK_X},
    Key{0x10, XK_y, XK_Y}, Key{0x06, XK_z, XK_Z},
    // digits row
    Key{0x12, XK_1, XK_exclam}, Key{0x13, XK_2, XK_at}, Key{0x14, XK_3, XK_numbersign},
    Key{0x15, XK_4, XK_dollar}, Key{0x17, XK_5, XK_percent}, Key{0x16, XK_6, XK_asciicircum},
    Key{0x1A, XK_7, XK_ampersand}, Key{0x1C, XK_8, XK_asterisk}, Key{0x19, XK_9, XK_parenleft},
    Key{0x1D, XK_0, XK_parenright}, Key{0x1B, XK_minus, XK_underscore}, Key{0x18, XK_equal, XK_plus},
    // punctuation
    Key{0x21, XK_bracketleft, XK_braceleft}, Key{0x1E, XK_bracketright, XK_braceright},
    Key{0x2A, XK_backslash, XK_bar}, Key{0x29, XK_semicolon, XK_colon},
    Key{0x27, XK_apostrophe, XK_quotedbl}, Key{0x32, XK_grave, XK_asciitilde}, Key{0x2B, XK_comma, XK_less},
    Key{0x2F, XK_period, XK_greater}, Key{0x2C, XK_slash, XK_question},
    // editing and navigation
    Key{0x24, XK_Return}, Key{0x30, XK_Tab, XK_ISO_Left_Tab}, Key{0x31, XK_space}, Key{0x33, XK_BackSpace},
    Key{0x35, XK_Escape}, Key{0x72, XK_Insert, XK_Help}, Key{0x75, XK_Delete}, Key{0x73, XK_Home},
    Key{0x77, XK_End}, Key{0x74, XK_Prior}, Key{0x79, XK_Next}, Key{0x7B, XK_Left}, Key{0x7C, XK_Right},
    Key{0x7D, XK_Down}, Key{0x7E, XK_Up},
    // modifiers: command is the Super key
    Key{0x37, XK_Super_L}, Key{0x36, XK_Super_R}, Key{0x38, XK_Shift_L}, Key{0x3C, XK_Shift_R},
    Key{0x3A, XK_Alt_L, XK_Meta_L}, Key{0x3D, XK_Alt_R, XK_Meta_R}, Key{0x3B, XK_Control_L},
    Key{0x3E, XK_Control_R}, Key{0x39, XK_Caps_Lock},
    // function keys
    Key{0x7A, XK_F1}, Key{0x78, XK_F2}, Key{0x63, XK_F3}, Key{0x76, XK_F4}, Key{0x60, XK_F5},
    Key{0x61, XK_F6}, Key{0x62, XK_F7}, Key{0x64, XK_F8}, Key{0x65, XK_F9}, Key{0x6D, XK_F10},
    Key{0x67, XK_F11}, Key{0x6F, XK_F12}, Key{0x69, XK_F13}, Key{0x6B, XK_F14}, Key{0x71, XK_F15},
    Key{0x6A, XK_F16}, Key{0x40, XK_F17}, Key{0x4F, XK_F18}, Key{0x50, XK_F19}, Key{0x5A, XK_F20},
    // keypad; the Mac's keypad clear key sits where num lock is
    Key{0x52, XK_KP_0, XK_KP_Insert}, Key{0x53, XK_KP_1, XK_KP_End}, Key{0x54, XK_KP_2, XK_KP_Down},
    Key{0x55, XK_KP_3, XK_KP_Next}, Key{0x56, XK_KP_4, XK_KP_Left}, Key{0x57, XK_KP_5, XK_KP_Begin},
    Key{0x58, XK_KP_6, XK_KP_Right}, Key{0x59, XK_KP_7, XK_KP_Home}, Key{0x5B, XK_KP_8, XK_KP_Up},
    Key{0x5C, XK_KP_9, XK_KP_Prior}, Key{0x41, XK_KP_Decimal, XK_KP_Delete}, Key{0x43, XK_KP_Multiply},
    Key{0x45, XK_KP_Add}, Key{0x4B, XK_KP_Divide}, Key{0x4E, XK_KP_Subtract}, Key{0x4C, XK_KP_Enter},
    Key{0x51, XK_KP_Equal}, Key{0x47, XK_Num_Lock, XK_Clear},
    // sound keys
    Key{0x48, XF86XK_AudioRaiseVolume}, Key{0x49, XF86XK_AudioLowerVolume}, Key{0x4A, XF86XK_AudioMute},
};

} // namespace

std::optional<uint16_t> MacKeyCodes::fromKeysym(uint32_t keysym)
{
    if (keysym == NoSymbol) {
        return std::nullopt;
    }
    for (const Key& key : kKeys) {
        if (key.keysym == keysym || key.other == keysym) {
            return key.code;
        }
    }
    return std::nullopt;
}

std::optional<uint32_t> MacKeyCodes::toKeysym(uint16_t keyCode)
{
    for (const Key& key : kKeys) {
        if (key.code == keyCode) {
            return key.keysym;
        }
    }
    return std::nullopt;
}

#include "Platform/MacKeyCodes.h"

#include <gtest/gtest.h>

#include <X11/X.h>
#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <set>
#include <utility>
#include <vector>

namespace {

// Mac virtual key codes by key name, as the Mac's key-code header lists them (ANSI positions).
enum MacKey : uint16_t {
    kVK_ANSI_A = 0x00, kVK_ANSI_S = 0x01, kVK_ANSI_D = 0x02, kVK_ANSI_F = 0x03, kVK_ANSI_H = 0x04,
    kVK_ANSI_G = 0x05, kVK_ANSI_Z = 0x06, kVK_ANSI_X = 0x07, kVK_ANSI_C = 0x08, kVK_ANSI_V = 0x09,
    kVK_ANSI_B = 0x0B, kVK_ANSI_Q = 0x0C, kVK_ANSI_W = 0x0D, kVK_ANSI_E = 0x0E, kVK_ANSI_R = 0x0F,
    kVK_ANSI_Y = 0x10, kVK_ANSI_T = 0x11, kVK_ANSI_1 = 0x12, kVK_ANSI_2 = 0x13, kVK_ANSI_3 = 0x14,
    kVK_ANSI_4 = 0x15, kVK_ANSI_6 = 0x16, kVK_ANSI_5 = 0x17, kVK_ANSI_Equal = 0x18, kVK_ANSI_9 = 0x19,
    kVK_ANSI_7 = 0x1A, kVK_ANSI_Minus = 0x1B, kVK_ANSI_8 = 0x1C, kVK_ANSI_0 = 0x1D,
    kVK_ANSI_RightBracket = 0x1E, kVK_ANSI_O = 0x1F, kVK_ANSI_U = 0x20, kVK_ANSI_LeftBracket = 0x21,
    kVK_ANSI_I = 0x22, kVK_ANSI_P = 0x23, kVK_Return = 0x24, kVK_ANSI_L = 0x25, kVK_ANSI_J = 0x26,
    kVK_ANSI_Quote = 0x27, kVK_ANSI_K = 0x28, kVK_ANSI_Semicolon = 0x29, kVK_ANSI_Backslash = 0x2A,
    kVK_ANSI_Comma = 0x2B, kVK_ANSI_Slash = 0x2C, kVK_ANSI_N = 0x2D, kVK_ANSI_M = 0x2E,
    kVK_ANSI_Period = 0x2F, kVK_Tab = 0x30, kVK_Space = 0x31, kVK_ANSI_Grave = 0x32, kVK_Delete = 0x33,
    kVK_Escape = 0x35, kVK_RightCommand = 0x36, kVK_Command = 0x37, kVK_Shift = 0x38, kVK_CapsLock = 0x39,
    kVK_Option = 0x3A, kVK_Control = 0x3B, kVK_RightShift = 0x3C, kVK_RightOption = 0x3D,
    kVK_RightControl = 0x3E, kVK_Function = 0x3F, kVK_F17 = 0x40, kVK_ANSI_KeypadDecimal = 0x41,
    kVK_ANSI_KeypadMultiply = 0x43, kVK_ANSI_KeypadPlus = 0x45, kVK_ANSI_KeypadClear = 0x47,
    kVK_VolumeUp = 0x48, kVK_VolumeDown = 0x49, kVK_Mute = 0x4A, kVK_ANSI_KeypadDivide = 0x4B,
    kVK_ANSI_KeypadEnter = 0x4C, kVK_ANSI_KeypadMinus = 0x4E, kVK_F18 = 0x4F, kVK_F19 = 0x50,
    kVK_ANSI_KeypadEquals = 0x51, kVK_ANSI_Keypad0 = 0x52, kVK_ANSI_Keypad1 = 0x53, kVK_ANSI_Keypad2 = 0x54,
    kVK_ANSI_Keypad3 = 0x55, kVK_ANSI_Keypad4 = 0x56, kVK_ANSI_Keypad5 = 0x57, kVK_ANSI_Keypad6 = 0x58,
    kVK_ANSI_Keypad7 = 0x59, kVK_F20 = 0x5A, kVK_ANSI_Keypad8 = 0x5B, kVK_ANSI_Keypad9 = 0x5C,
    kVK_F5 = 0x60, kVK_F6 = 0x61, kVK_F7 = 0x62, kVK_F3 = 0x63, kVK_F8 = 0x64, kVK_F9 = 0x65,
    kVK_F11 = 0x67, kVK_F13 = 0x69, kVK_F16 = 0x6A, kVK_F14 = 0x6B, kVK_F10 = 0x6D, kVK_F12 = 0x6F,
    kVK_F15 = 0x71, kVK_Help = 0x72, kVK_Home = 0x73, kVK_PageUp = 0x74, kVK_ForwardDelete = 0x75,
    kVK_F4 = 0x76, kVK_End = 0x77, kVK_F2 = 0x78, kVK_PageDown = 0x79, kVK_F1 = 0x7A,
    kVK_LeftArrow = 0x7B, kVK_RightArrow = 0x7C, kVK_DownArrow = 0x7D, kVK_UpArrow = 0x7E,
};

// What a PC keyboard's key in the same place gives, unshifted and (where it differs) shifted.
const std::vector<std::pair<KeySym, MacKey>> kKeysyms = {
    {XK_a, kVK_ANSI_A}, {XK_A, kVK_ANSI_A}, {XK_b, kVK_ANSI_B}, {XK_c, kVK_ANSI_C}, {XK_d, kVK_ANSI_D},
    {XK_e, kVK_ANSI_E}, {XK_f, kVK_ANSI_F}, {XK_g, kVK_ANSI_G}, {XK_h, kVK_ANSI_H}, {XK_i, kVK_ANSI_I},
    {XK_j, kVK_ANSI_J}, {XK_k, kVK_ANSI_K}, {XK_l, kVK_ANSI_L}, {XK_m, kVK_ANSI_M}, {XK_n, kVK_ANSI_N},
    {XK_o, kVK_ANSI_O}, {XK_p, kVK_ANSI_P}, {XK_q, kVK_ANSI_Q}, {XK_r, kVK_ANSI_R}, {XK_s, kVK_ANSI_S},
    {XK_t, kVK_ANSI_T}, {XK_u, kVK_ANSI_U}, {XK_v, kVK_ANSI_V}, {XK_w, kVK_ANSI_W}, {XK_x, kVK_ANSI_X},
    {XK_y, kVK_ANSI_Y}, {XK_Z, kVK_ANSI_Z}, {XK_z, kVK_ANSI_Z},
    {XK_0, kVK_ANSI_0}, {XK_1, kVK_ANSI_1}, {XK_2, kVK_ANSI_2}, {XK_3, kVK_ANSI_3}, {XK_4, kVK_ANSI_4},
    {XK_5, kVK_ANSI_5}, {XK_6, kVK_ANSI_6}, {XK_7, kVK_ANSI_7}, {XK_8, kVK_ANSI_8}, {XK_9, kVK_ANSI_9},
    {XK_exclam, kVK_ANSI_1}, {XK_at, kVK_ANSI_2}, {XK_parenright, kVK_ANSI_0}, {XK_asciicircum, kVK_ANSI_6},
    {XK_minus, kVK_ANSI_Minus}, {XK_underscore, kVK_ANSI_Minus}, {XK_equal, kVK_ANSI_Equal},
    {XK_plus, kVK_ANSI_Equal}, {XK_bracketleft, kVK_ANSI_LeftBracket}, {XK_braceright, kVK_ANSI_RightBracket},
    {XK_backslash, kVK_ANSI_Backslash}, {XK_bar, kVK_ANSI_Backslash}, {XK_semicolon, kVK_ANSI_Semicolon},
    {XK_quotedbl, kVK_ANSI_Quote}, {XK_grave, kVK_ANSI_Grave}, {XK_asciitilde, kVK_ANSI_Grave},
    {XK_comma, kVK_ANSI_Comma}, {XK_greater, kVK_ANSI_Period}, {XK_slash, kVK_ANSI_Slash},
    {XK_question, kVK_ANSI_Slash},
    {XK_Return, kVK_Return}, {XK_Tab, kVK_Tab}, {XK_ISO_Left_Tab, kVK_Tab}, {XK_space, kVK_Space},
    {XK_BackSpace, kVK_Delete}, {XK_Delete, kVK_ForwardDelete}, {XK_Escape, kVK_Escape}, {XK_Insert, kVK_Help},
    {XK_Home, kVK_Home}, {XK_End, kVK_End}, {XK_Page_Up, kVK_PageUp}, {XK_Page_Down, kVK_PageDown},
    {XK_Left, kVK_LeftArrow}, {XK_Right, kVK_RightArrow}, {XK_Up, kVK_UpArrow}, {XK_Down, kVK_DownArrow},
    {XK_Super_L, kVK_Command}, {XK_Super_R, kVK_RightCommand}, {XK_Shift_L, kVK_Shift},
    {XK_Shift_R, kVK_RightShift}, {XK_Control_L, kVK_Control}, {XK_Control_R, kVK_RightControl},
    {XK_Alt_L, kVK_Option}, {XK_Alt_R, kVK_RightOption}, {XK_Caps_Lock, kVK_CapsLock},
    {XK_F1, kVK_F1}, {XK_F2, kVK_F2}, {XK_F3, kVK_F3}, {XK_F4, kVK_F4}, {XK_F5, kVK_F5}, {XK_F6, kVK_F6},
    {XK_F7, kVK_F7}, {XK_F8, kVK_F8}, {XK_F9, kVK_F9}, {XK_F10, kVK_F10}, {XK_F11, kVK_F11}, {XK_F12, kVK_F12},
    {XK_F13, kVK_F13}, {XK_F14, kVK_F14}, {XK_F15, kVK_F15}, {XK_F16, kVK_F16}, {XK_F17, kVK_F17},
    {XK_F18, kVK_F18}, {XK_F19, kVK_F19}, {XK_F20, kVK_F20},
    {XK_KP_0, kVK_ANSI_Keypad0}, {XK_KP_1, kVK_ANSI_Keypad1}, {XK_KP_2, kVK_ANSI_Keypad2},
    {XK_KP_3, kVK_ANSI_Keypad3}, {XK_KP_4, kVK_ANSI_Keypad4}, {XK_KP_5, kVK_ANSI_Keypad5},
    {XK_KP_6, kVK_ANSI_Keypad6}, {XK_KP_7, kVK_ANSI_Keypad7}, {XK_KP_8, kVK_ANSI_Keypad8},
    {XK_KP_9, kVK_ANSI_Keypad9}, {XK_KP_End, kVK_ANSI_Keypad1}, {XK_KP_Page_Up, kVK_ANSI_Keypad9},
    {XK_KP_Decimal, kVK_ANSI_KeypadDecimal}, {XK_KP_Multiply, kVK_ANSI_KeypadMultiply},
    {XK_KP_Add, kVK_ANSI_KeypadPlus}, {XK_KP_Subtract, kVK_ANSI_KeypadMinus},
    {XK_KP_Divide, kVK_ANSI_KeypadDivide}, {XK_KP_Enter, kVK_ANSI_KeypadEnter},
    {XK_KP_Equal, kVK_ANSI_KeypadEquals}, {XK_Num_Lock, kVK_ANSI_KeypadClear},
    {XF86XK_AudioRaiseVolume, kVK_VolumeUp}, {XF86XK_AudioLowerVolume, kVK_VolumeDown},
    {XF86XK_AudioMute, kVK_Mute},
};

TEST(MacKeyCodes, KeysymsOfAPcKeyboardFindTheMacKeyInTheSamePlace)
{
    for (const auto& [keysym, key] : kKeysyms) {
        EXPECT_EQ(MacKeyCodes::fromKeysym(static_cast<uint32_t>(keysym)), key) << "keysym 0x" << std::hex << keysym;
    }
}

TEST(MacKeyCodes, EachKeyGivesBackItsUnshiftedKeysym)
{
    std::set<uint16_t> known;
    for (int code = 0; code <= 0xFFFF; ++code) {
        const std::optional<uint32_t> keysym = MacKeyCodes::toKeysym(static_cast<uint16_t>(code));
        if (keysym) {
            known.insert(static_cast<uint16_t>(code));
            EXPECT_EQ(MacKeyCodes::fromKeysym(*keysym), code) << "code 0x" << std::hex << code;
        }
    }
    EXPECT_EQ(known.size(), 112u);
    EXPECT_EQ(MacKeyCodes::toKeysym(kVK_LeftArrow), static_cast<uint32_t>(XK_Left));
    EXPECT_EQ(MacKeyCodes::toKeysym(kVK_Escape), static_cast<uint32_t>(XK_Escape));
    EXPECT_EQ(MacKeyCodes::toKeysym(kVK_ANSI_A), static_cast<uint32_t>(XK_a));
    EXPECT_FALSE(MacKeyCodes::toKeysym(kVK_Function));
}

TEST(MacKeyCodes, KeysymsOfNoKnownKeyFindNothing)
{
    for (const KeySym keysym : {KeySym{NoSymbol}, KeySym{XK_Print}, KeySym{XK_Pause}, KeySym{XK_F21},
                                KeySym{XK_Multi_key}, KeySym{XK_eacute}, KeySym{0xFFFFFF}}) {
        EXPECT_FALSE(MacKeyCodes::fromKeysym(static_cast<uint32_t>(keysym))) << "keysym 0x" << std::hex << keysym;
    }
}

} // namespace

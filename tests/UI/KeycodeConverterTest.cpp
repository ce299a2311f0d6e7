#include "UI/KeycodeConverter.h"

#include "UI/FakeKeyboardMonitor.h"

#include "Platform/MacKeyCodes.h"
#include "Socket/MessageType.h"
#include "Utils/ContractDeathTest.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

namespace {

using Event = KeyboardMonitor::Event;
using Type = Event::Type;

struct Sent {
    int type;
    std::vector<uint8_t> payload;
    bool operator==(const Sent&) const = default;
};

Sent down(std::vector<uint8_t> payload)
{
    return {kMsgKeyDown, std::move(payload)};
}
Sent up(std::vector<uint8_t> payload)
{
    return {kMsgKeyUp, std::move(payload)};
}

class KeycodeConverterTest : public testing::Test {
protected:
    KeycodeConverterTest()
    {
        converter.setKeyboardMonitor(&monitor);
        converter.startKeyboardListen();
    }

    FakeKeyboardMonitor monitor;
    std::vector<Sent> sent;
    KeycodeConverter converter{[this](int type, const uint8_t* data, int len) {
        sent.push_back({type, std::vector<uint8_t>(data, data + len)});
        return true;
    }};
};

TEST_F(KeycodeConverterTest, PressingAndReleasingAGoesOutAsUsage4)
{
    monitor.feed(Type::KeyDown, 0x00);
    monitor.feed(Type::KeyUp, 0x00);
    EXPECT_EQ(sent, (std::vector<Sent>{down({0x04, 0, 0, 0}), up({0x04, 0, 0, 0})}));
}

TEST_F(KeycodeConverterTest, EachAutoRepeatIsAnotherKeyDown)
{
    for (int i = 0; i < 3; ++i) {
        monitor.feed(Type::KeyDown, 0x7B);
    }
    monitor.feed(Type::KeyUp, 0x7B);
    const std::vector<uint8_t> left{0x50, 0, 0, 0};
    EXPECT_EQ(sent, (std::vector<Sent>{down(left), down(left), down(left), up(left)}));
}

TEST_F(KeycodeConverterTest, ModifierKeysFollowTheirFlagBit)
{
    monitor.feed(Type::FlagsChanged, 0x37, Event::kCommandFlag);
    monitor.feed(Type::FlagsChanged, 0x37, 0);
    monitor.feed(Type::FlagsChanged, 0x3C, Event::kShiftFlag);
    monitor.feed(Type::FlagsChanged, 0x3D, Event::kOptionFlag | Event::kShiftFlag);
    monitor.feed(Type::FlagsChanged, 0x3B, Event::kControlFlag);
    monitor.feed(Type::FlagsChanged, 0x36, Event::kShiftFlag); // right command up while shift is held
    EXPECT_EQ(sent, (std::vector<Sent>{down({0xE3, 0, 0, 0}), up({0xE3, 0, 0, 0}), down({0xE5, 0, 0, 0}),
                                       down({0xE6, 0, 0, 0}), down({0xE0, 0, 0, 0}), up({0xE7, 0, 0, 0})}));
}

TEST_F(KeycodeConverterTest, CapsLockSendsTwoMessagesByItsBitAndTheShiftBit)
{
    const std::vector<uint8_t> caps{0x39, 0, 0, 0};
    monitor.feed(Type::FlagsChanged, 0x39, Event::kCapsLockFlag);
    EXPECT_EQ(sent, (std::vector<Sent>{down(caps), up(caps)}));
    sent.clear();
    monitor.feed(Type::FlagsChanged, 0x39, 0);
    EXPECT_EQ(sent, (std::vector<Sent>{up(caps), up(caps)}));
    sent.clear();
    monitor.feed(Type::FlagsChanged, 0x39, Event::kCapsLockFlag | Event::kShiftFlag);
    EXPECT_EQ(sent, (std::vector<Sent>{down(caps), down(caps)}));
}

TEST_F(KeycodeConverterTest, OnlyTheModifierKeysCountInFlagChanges)
{
    // fn, and keys that are not modifiers, send nothing when flags change.
    monitor.feed(Type::FlagsChanged, 0x3F, 0x800000);
    monitor.feed(Type::FlagsChanged, 0x00, Event::kShiftFlag);
    monitor.feed(Type::FlagsChanged, 0x35, Event::kCommandFlag);
    EXPECT_TRUE(sent.empty());
}

TEST_F(KeycodeConverterTest, KeysWithoutAnEntryGoOutAsAllOnes)
{
    monitor.feed(Type::KeyDown, 0x3F);
    monitor.feed(Type::KeyUp, 0x0A);
    monitor.feed(Type::KeyDown, 600);
    monitor.feed(Type::KeyDown, -1);
    const std::vector<uint8_t> none{0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(sent, (std::vector<Sent>{down(none), up(none), down(none), down(none)}));
}

TEST_F(KeycodeConverterTest, ListeningStartsAnewAndStopsOnce)
{
    EXPECT_TRUE(converter.isListening());
    converter.startKeyboardListen();
    EXPECT_EQ(monitor.installs, 2);
    EXPECT_EQ(monitor.removes, 1);

    converter.stopKeyboardListen();
    converter.stopKeyboardListen();
    EXPECT_EQ(monitor.removes, 2);
    EXPECT_FALSE(monitor.installed());
    EXPECT_FALSE(converter.isListening());
    monitor.feed(Type::KeyDown, 0x00);
    EXPECT_TRUE(sent.empty());

    // A new monitor takes over from the old one.
    FakeKeyboardMonitor other;
    converter.startKeyboardListen();
    converter.setKeyboardMonitor(&other);
    EXPECT_FALSE(monitor.installed());
    converter.startKeyboardListen();
    EXPECT_TRUE(other.installed());
    converter.setKeyboardMonitor(nullptr);
    EXPECT_FALSE(other.installed());
    converter.startKeyboardListen();
    EXPECT_FALSE(converter.isListening());
}

TEST(KeycodeConverterLifetime, AConverterGoneListensNoMore)
{
    FakeKeyboardMonitor monitor;
    {
        KeycodeConverter converter([](int, const uint8_t*, int) { return true; });
        converter.setKeyboardMonitor(&monitor);
        converter.startKeyboardListen();
        EXPECT_TRUE(monitor.installed());
    }
    EXPECT_FALSE(monitor.installed());
}

TEST(KeycodeConverterDeathTest, ListeningIsSwitchedOnTheMainThreadOutsideTheHandler)
{
    SKIP_WITHOUT_ASSERTIONS();
    FakeKeyboardMonitor monitor;
    KeycodeConverter* self = nullptr;
    KeycodeConverter converter([&self](int, const uint8_t*, int) {
        self->stopKeyboardListen();
        return true;
    });
    self = &converter;
    converter.setKeyboardMonitor(&monitor);
    converter.startKeyboardListen();
    EXPECT_DEATH(monitor.feed(Type::KeyDown, 0x00), "InsideCall");
    EXPECT_DEATH(std::thread([&converter] { converter.startKeyboardListen(); }).join(), "mainThread_");
}

// USB HID Usage Tables, keyboard/keypad page (0x07), and the Mac keys that sit where they do. Written
// from the usage tables, with the two values the TV expects in place of theirs (see below).
const std::map<int, uint32_t> kHidUsageOfMacKey = {
    // Keyboard a and A .. z and Z (0x04-0x1D)
    {0x00, 0x04}, {0x0B, 0x05}, {0x08, 0x06}, {0x02, 0x07}, {0x0E, 0x08}, {0x03, 0x09}, {0x05, 0x0A},
    {0x04, 0x0B}, {0x22, 0x0C}, {0x26, 0x0D}, {0x28, 0x0E}, {0x25, 0x0F}, {0x2E, 0x10}, {0x2D, 0x11},
    {0x1F, 0x12}, {0x23, 0x13}, {0x0C, 0x14}, {0x0F, 0x15}, {0x01, 0x16}, {0x11, 0x17}, {0x20, 0x18},
    {0x09, 0x19}, {0x0D, 0x1A}, {0x07, 0x1B}, {0x10, 0x1C}, {0x06, 0x1D},
    // Keyboard 1 and ! .. 0 and ) (0x1E-0x27)
    {0x12, 0x1E}, {0x13, 0x1F}, {0x14, 0x20}, {0x15, 0x21}, {0x17, 0x22}, {0x16, 0x23}, {0x1A, 0x24},
    {0x1C, 0x25}, {0x19, 0x26}, {0x1D, 0x27},
    // Return, Escape, Delete (Backspace), Tab, Spacebar
    {0x24, 0x28}, {0x35, 0x29}, {0x33, 0x2A}, {0x30, 0x2B}, {0x31, 0x2C},
    // - _, = +, [ {, ] }, \ |, ; :, ' ", , <, . >, / ?
    {0x1B, 0x2D}, {0x18, 0x2E}, {0x21, 0x2F}, {0x1E, 0x30}, {0x2A, 0x31}, {0x29, 0x33}, {0x27, 0x34},
    {0x2B, 0x36}, {0x2F, 0x37}, {0x2C, 0x38},
    // Grave accent and tilde: the usage tables say 0x35; the TV takes 0x32 (non-US # and ~)
    {0x32, 0x32},
    // Caps Lock, F1 .. F12 (0x3A-0x45)
    {0x39, 0x39}, {0x7A, 0x3A}, {0x78, 0x3B}, {0x63, 0x3C}, {0x76, 0x3D}, {0x60, 0x3E}, {0x61, 0x3F},
    {0x62, 0x40}, {0x64, 0x41}, {0x65, 0x42}, {0x6D, 0x43}, {0x67, 0x44}, {0x6F, 0x45},
    // Insert (the Mac's Help), Home, Page Up, Delete Forward, End, Page Down, arrows
    {0x72, 0x49}, {0x73, 0x4A}, {0x74, 0x4B}, {0x75, 0x4C}, {0x77, 0x4D}, {0x79, 0x4E}, {0x7C, 0x4F},
    {0x7B, 0x50}, {0x7D, 0x51}, {0x7E, 0x52},
    // Keypad Num Lock and Clear, /, *, -, +, Enter, 1 .. 9, 0, .
    {0x47, 0x53}, {0x4B, 0x54}, {0x43, 0x55}, {0x4E, 0x56}, {0x45, 0x57}, {0x4C, 0x58}, {0x53, 0x59},
    {0x54, 0x5A}, {0x55, 0x5B}, {0x56, 0x5C}, {0x57, 0x5D}, {0x58, 0x5E}, {0x59, 0x5F}, {0x5B, 0x60},
    {0x5C, 0x61}, {0x52, 0x62}, {0x41, 0x63},
    // Keypad =, F13 .. F20 (0x68-0x6F)
    {0x51, 0x67}, {0x69, 0x68}, {0x6B, 0x69}, {0x71, 0x6A}, {0x6A, 0x6B}, {0x40, 0x6C}, {0x4F, 0x6D},
    {0x50, 0x6E}, {0x5A, 0x6F},
    // Mute: the usage tables say 0x7F; the TV takes 0x106. Volume Up, Volume Down
    {0x4A, 0x106}, {0x48, 0x80}, {0x49, 0x81},
    // Left Control, Left Shift, Left Alt (option), Left GUI (command), and the right-hand four
    {0x3B, 0xE0}, {0x38, 0xE1}, {0x3A, 0xE2}, {0x37, 0xE3}, {0x3E, 0xE4}, {0x3C, 0xE5}, {0x3D, 0xE6},
    {0x36, 0xE7},
};

TEST(KeycodeConverterTable, EveryKeyCodeHasTheUsageOfItsKeyOrNone)
{
    ASSERT_EQ(kHidUsageOfMacKey.size(), 112u);
    for (int keyCode = 0; keyCode < KeycodeConverter::kTableSize; ++keyCode) {
        const auto found = kHidUsageOfMacKey.find(keyCode);
        const uint32_t expected = found != kHidUsageOfMacKey.end() ? found->second : KeycodeConverter::kNoEntry;
        EXPECT_EQ(KeycodeConverter::usageForKeyCode(keyCode), expected) << "key code 0x" << std::hex << keyCode;
    }
}

TEST(KeycodeConverterTable, QuirksOfTheTableStand)
{
    EXPECT_EQ(KeycodeConverter::usageForKeyCode(0x32), 0x32u);
    EXPECT_EQ(KeycodeConverter::usageForKeyCode(0x4A), 0x106u);
    for (const int keyCode : {0x0A, 0x34, 0x3F, 0x42, 0x44, 0x46, 0x4D, 0x5D, 0x5E, 0x5F, 0x66, 0x68, 0x6C, 0x6E,
                              0x70, 0x7F, 0x80, 0x1FF, 0x200, -1}) {
        EXPECT_EQ(KeycodeConverter::usageForKeyCode(keyCode), KeycodeConverter::kNoEntry)
            << "key code 0x" << std::hex << keyCode;
    }
}

TEST(KeycodeConverterTable, EveryKeyOfTheTableHasAnXKeysymAndNoOtherHas)
{
    for (int keyCode = 0; keyCode < KeycodeConverter::kTableSize; ++keyCode) {
        const bool inTable = KeycodeConverter::usageForKeyCode(keyCode) != KeycodeConverter::kNoEntry;
        EXPECT_EQ(MacKeyCodes::toKeysym(static_cast<uint16_t>(keyCode)).has_value(), inTable)
            << "key code 0x" << std::hex << keyCode;
    }
}

} // namespace

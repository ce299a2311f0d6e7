#include "UI/KeycodeConverter.h"

#include "Socket/KeyEventPayload.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Utils/InsideCall.h"
#include "Utils/Log.h"

#include <cassert>
#include <optional>
#include <utility>
#include <vector>

namespace {

using Event = KeyboardMonitor::Event;

// Mac virtual key code and HID keyboard-page usage. The grave-accent key (0x32) goes out as 0x32
// and mute (0x4A) as 0x106, as the TV expects them.
constexpr std::pair<uint16_t, uint32_t> kUsages[] = {
    {0x00, 0x04}, {0x01, 0x16}, {0x02, 0x07}, {0x03, 0x09}, {0x04, 0x0B}, {0x05, 0x0A}, {0x06, 0x1D},
    {0x07, 0x1B}, {0x08, 0x06}, {0x09, 0x19}, {0x0B, 0x05}, {0x0C, 0x14}, {0x0D, 0x1A}, {0x0E, 0x08},
    {0x0F, 0x15}, {0x10, 0x1C}, {0x11, 0x17}, {0x12, 0x1E}, {0x13, 0x1F}, {0x14, 0x20}, {0x15, 0x21},
    {0x16, 0x23}, {0x17, 0x22}, {0x18, 0x2E}, {0x19, 0x26}, {0x1A, 0x24}, {0x1B, 0x2D}, {0x1C, 0x25},
    {0x1D, 0x27}, {0x1E, 0x30}, {0x1F, 0x12}, {0x20, 0x18}, {0x21, 0x2F}, {0x22, 0x0C}, {0x23, 0x13},
    {0x24, 0x28}, {0x25, 0x0F}, {0x26, 0x0D}, {0x27, 0x34}, {0x28, 0x0E}, {0x29, 0x33}, {0x2A, 0x31},
    {0x2B, 0x36}, {0x2C, 0x38}, {0x2D, 0x11}, {0x2E, 0x10}, {0x2F, 0x37}, {0x30, 0x2B}, {0x31, 0x2C},
    {0x32, 0x32}, {0x33, 0x2A}, {0x35, 0x29}, {0x36, 0xE7}, {0x37, 0xE3}, {0x38, 0xE1}, {0x39, 0x39},
    {0x3A, 0xE2}, {0x3B, 0xE0}, {0x3C, 0xE5}, {0x3D, 0xE6}, {0x3E, 0xE4}, {0x40, 0x6C}, {0x41, 0x63},
    {0x43, 0x55}, {0x45, 0x57}, {0x47, 0x53}, {0x48, 0x80}, {0x49, 0x81}, {0x4A, 0x106}, {0x4B, 0x54},
    {0x4C, 0x58}, {0x4E, 0x56}, {0x4F, 0x6D}, {0x50, 0x6E}, {0x51, 0x67}, {0x52, 0x62}, {0x53, 0x59},
    {0x54, 0x5A}, {0x55, 0x5B}, {0x56, 0x5C}, {0x57, 0x5D}, {0x58, 0x5E}, {0x59, 0x5F}, {0x5A, 0x6F},
    {0x5B, 0x60}, {0x5C, 0x61}, {0x60, 0x3E}, {0x61, 0x3F}, {0x62, 0x40}, {0x63, 0x3C}, {0x64, 0x41},
    {0x65, 0x42}, {0x67, 0x44}, {0x69, 0x68}, {0x6A, 0x6B}, {0x6B, 0x69}, {0x6D, 0x43}, {0x6F, 0x45},
    {0x71, 0x6A}, {0x72, 0x49}, {0x73, 0x4A}, {0x74, 0x4B}, {0x75, 0x4C}, {0x76, 0x3D}, {0x77, 0x4D},
    {0x78, 0x3B}, {0x79, 0x4E}, {0x7A, 0x3A}, {0x7B, 0x50}, {0x7C, 0x4F}, {0x7D, 0x51}, {0x7E, 0x52},
};

constexpr std::array<uint32_t, KeycodeConverter::kTableSize> makeKeyboardScancode()
{
    std::array<uint32_t, KeycodeConverter::kTableSize> table{};
    table.fill(KeycodeConverter::kNoEntry);
    for (const auto& [keyCode, usage] : kUsages) {
        table[keyCode] = usage;
    }
    return table;
}

constexpr std::array<uint32_t, KeycodeConverter::kTableSize> kKeyboardScancode = makeKeyboardScancode();

// The modifier bit that tells whether a modifier key is down; nullopt for other keys.
std::optional<uint64_t> modifierFlag(int keyCode)
{
    switch (keyCode) {
    case 0x36:
    case 0x37:
        return Event::kCommandFlag;
    case 0x38:
    case 0x3C:
        return Event::kShiftFlag;
    case 0x39:
        return Event::kCapsLockFlag;
    case 0x3A:
    case 0x3D:
        return Event::kOptionFlag;
    case 0x3B:
    case 0x3E:
        return Event::kControlFlag;
    default:
        return std::nullopt;
    }
}

constexpr int kCapsLockKeyCode = 0x39;

} // namespace

KeycodeConverter& KeycodeConverter::sharedManager()
{
    static KeycodeConverter* const instance = new KeycodeConverter(
        [](int type, const uint8_t* data, int len) { return TCPManager::sharedManager().sendType(type, data, len); });
    return *instance;
}

KeycodeConverter::KeycodeConverter(Sender sender) : sender_(std::move(sender)) {}

KeycodeConverter::~KeycodeConverter()
{
    stopKeyboardListen();
}

void KeycodeConverter::setKeyboardMonitor(KeyboardMonitor* monitor)
{
    stopKeyboardListen();
    monitor_ = monitor;
}

void KeycodeConverter::startKeyboardListen()
{
    stopKeyboardListen();
    if (monitor_ == nullptr) {
        PLOG("no keyboard monitor: keys are not forwarded");
        return;
    }
    monitor_->install([this](const Event& event) { handle(event); });
    listening_ = true;
}

void KeycodeConverter::stopKeyboardListen()
{
    // Every switch of listening passes here first. Inside the handler, the monitor is running the
    // handler that removing would destroy.
    assert(mainThread_.holds());
    assert(!InsideCall<KeycodeConverter>::of(this));
    if (!listening_) {
        return;
    }
    monitor_->remove();
    listening_ = false;
}

uint32_t KeycodeConverter::usageForKeyCode(int keyCode)
{
    if (keyCode < 0 || keyCode >= kTableSize) {
        return kNoEntry;
    }
    return kKeyboardScancode[static_cast<size_t>(keyCode)];
}

void KeycodeConverter::handle(const Event& event)
{
    assert(mainThread_.holds());
    const InsideCall<KeycodeConverter> inside(this);
    const uint32_t usage = usageForKeyCode(event.keyCode);
    switch (event.type) {
    case Event::Type::KeyDown:
        send(true, usage);
        return;
    case Event::Type::KeyUp:
        send(false, usage);
        return;
    case Event::Type::FlagsChanged:
        if (const std::optional<uint64_t> flag = modifierFlag(event.keyCode)) {
            send((event.modifierFlags & *flag) != 0, usage);
            // Caps lock goes out twice: the second message by the shift bit.
            if (event.keyCode == kCapsLockKeyCode) {
                send((event.modifierFlags & Event::kShiftFlag) != 0, usage);
            }
        }
        return;
    }
}

void KeycodeConverter::send(bool keyDown, uint32_t usage)
{
    const std::vector<uint8_t> payload = KeyEventPayload{usage}.encode();
    sender_(keyDown ? kMsgKeyDown : kMsgKeyUp, payload.data(), static_cast<int>(payload.size()));
}

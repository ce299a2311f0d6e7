#pragma once

#include "UI/KeyboardMonitor.h"
#include "Utils/ThreadAffinity.h"

#include <array>
#include <cstdint>
#include <functional>

// Forwards the keys pressed in the application to the TV as USB HID keyboard usages (kMsgKeyDown,
// kMsgKeyUp), while the TV-screen window has control: it owns the table from Mac virtual key codes to
// usages and listens on the application's key monitor. Listening is switched on the main thread,
// never from inside the monitor's call (both asserted); the monitor calls it on the main thread too.
class KeycodeConverter {
public:
    // Sends one message to the TV; only queues it.
    using Sender = std::function<bool(int type, const uint8_t* data, int len)>;

    static constexpr int kTableSize = 512;
    // The usage of a key without one: all 32 bits set, sent as FF FF FF FF.
    static constexpr uint32_t kNoEntry = 0xFFFF'FFFF;

    // The process-wide forwarder, sending through TCPManager; made on first use, never destroyed.
    // It listens once the application has given it its monitor.
    static KeycodeConverter& sharedManager();

    explicit KeycodeConverter(Sender sender);
    ~KeycodeConverter();
    KeycodeConverter(const KeycodeConverter&) = delete;
    KeycodeConverter& operator=(const KeycodeConverter&) = delete;

    // The monitor that listening installs into (null: none; not owned, it outlives its use here).
    // Stops listening on the one before.
    void setKeyboardMonitor(KeyboardMonitor* monitor);
    // Stops, then installs the handler on the monitor; without a monitor only stops (logged).
    void startKeyboardListen();
    // Removes the handler; nothing when not listening.
    void stopKeyboardListen();
    bool isListening() const { return listening_; }

    // The table entry of a key code: kNoEntry for one without an entry and for one outside 0-511.
    static uint32_t usageForKeyCode(int keyCode);

private:
    void handle(const KeyboardMonitor::Event& event);
    void send(bool keyDown, uint32_t usage);

    const Sender sender_;
    KeyboardMonitor* monitor_ = nullptr;
    bool listening_ = false;
    ThreadAffinity mainThread_;
};

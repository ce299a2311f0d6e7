#pragma once

#include <cstdint>
#include <functional>

// The application-local key monitor: it sees each key event of the application's own windows
// before they handle it, and passes every event on unchanged. Events carry the Mac's terms (the
// view translates X keys with MacKeyCodes), since the key table is written in them. Main thread only.
class KeyboardMonitor {
public:
    struct Event {
        enum class Type { KeyDown = 10, KeyUp = 11, FlagsChanged = 12 };
        // The modifier bits of `modifierFlags`.
        static constexpr uint64_t kCapsLockFlag = 0x10000;
        static constexpr uint64_t kShiftFlag = 0x20000;
        static constexpr uint64_t kControlFlag = 0x40000;
        static constexpr uint64_t kOptionFlag = 0x80000;
        static constexpr uint64_t kCommandFlag = 0x100000;

        Type type = Type::KeyDown;
        int keyCode = 0;            // Mac virtual key code
        uint64_t modifierFlags = 0; // after the event
    };
    using Handler = std::function<void(const Event&)>;

    virtual ~KeyboardMonitor() = default;

    // Calls handler on the main thread for each key-down (auto-repeats included), key-up and
    // modifier change from now until remove(); replaces a handler installed before.
    virtual void install(Handler handler) = 0;
    // No handler call begins after this returns. Nothing when none is installed.
    virtual void remove() = 0;
};

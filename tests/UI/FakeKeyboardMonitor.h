#pragma once

#include "UI/KeyboardMonitor.h"

#include <cstdint>
#include <utility>

// Stands in for the application's key monitor: the test plays the user's keys into it.
class FakeKeyboardMonitor final : public KeyboardMonitor {
public:
    void install(Handler handler) override
    {
        handler_ = std::move(handler);
        ++installs;
    }
    void remove() override
    {
        handler_ = nullptr;
        ++removes;
    }
    bool installed() const { return static_cast<bool>(handler_); }
    void feed(KeyboardMonitor::Event::Type type, int keyCode, uint64_t flags = 0)
    {
        // A handler may remove itself: it runs from a copy.
        const Handler handler = handler_;
        if (handler) {
            handler(Event{type, keyCode, flags});
        }
    }

    int installs = 0;
    int removes = 0;

private:
    Handler handler_;
};

#pragma once

#include <atomic>
#include <thread>

// For members that only one thread may call: in debug builds it remembers the first thread that
// asks and answers whether each later caller is that thread. In release builds it holds nothing and
// always agrees. Ask inside assert(), which release builds don't evaluate at all. An object whose
// role passes to new threads is made anew with them (the transport's lists live per connection).
class ThreadAffinity {
public:
#ifdef NDEBUG
    bool holds() const { return true; }
#else
    // Const, so const members can assert too: which thread first asked is not the object's state.
    bool holds() const
    {
        std::thread::id expected{};
        const std::thread::id self = std::this_thread::get_id();
        return owner_.compare_exchange_strong(expected, self) || expected == self;
    }

private:
    mutable std::atomic<std::thread::id> owner_{};
#endif
};

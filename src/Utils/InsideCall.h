#pragma once

#include <utility>

// Marks the calling thread as inside a call that `owner` makes out (a callback, a delegate call),
// so the owner can assert that a method which would deadlock or break what it walks is not called
// back from there. Marks nest; each owner type has its own.
template <typename Owner>
class InsideCall {
public:
    explicit InsideCall(const Owner* owner) : previous_(std::exchange(current_, owner)) {}
    ~InsideCall() { current_ = previous_; }
    InsideCall(const InsideCall&) = delete;
    InsideCall& operator=(const InsideCall&) = delete;

    // True when the calling thread is inside one of owner's calls out, innermost.
    static bool of(const Owner* owner) { return current_ == owner; }

private:
    static inline thread_local const Owner* current_ = nullptr;
    const Owner* const previous_;
};

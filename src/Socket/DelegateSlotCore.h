#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

// The untyped heart of DelegateSlot: a non-owning pointer that knows which calls into it are under
// way, so that replacing it can wait for them. Any thread.
class DelegateSlotCore {
public:
    // One call into the slot's delegate, from construction to destruction. It takes the delegate in
    // the slot at construction (null when empty: the call is then a no-op).
    class Call {
    public:
        explicit Call(DelegateSlotCore& slot);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

        void* delegate() const { return delegate_; }

    private:
        DelegateSlotCore& slot_;
        void* const delegate_;
    };

    void* get() const;
    // Stores delegate. Once this returns, no call into the delegate it replaced is running or will
    // start, except calls on the calling thread's own stack: a delegate may clear its own slot from
    // inside one of its calls, and that call then finishes normally. A delegate call must not wait
    // for a thread that may be replacing its slot: so a set() that has to wait for another thread
    // must not run inside a call into another delegate (asserted).
    void set(void* delegate);
    // True while a call into this slot's delegate is on the calling thread's stack.
    bool calledHere() const;

private:
    void* begin();
    void end(void* delegate);

    mutable std::mutex mutex_;
    std::condition_variable callEnded_;
    void* delegate_ = nullptr;
    // One entry per call under way: the delegate it calls.
    std::vector<void*> calling_;
};

#pragma once

#include "Socket/DelegateSlotCore.h"

#include <utility>

// A weak delegate slot: a non-owning pointer whose calls are counted, so that once set() returns
// the delegate it replaced is no longer called and its owner may free it (see DelegateSlotCore).
template <class Delegate>
class DelegateSlot {
public:
    Delegate* get() const { return static_cast<Delegate*>(core_.get()); }
    void set(Delegate* delegate) { core_.set(delegate); }
    // True while a call into the delegate is on the calling thread's stack.
    bool calledHere() const { return core_.calledHere(); }

    // Calls the delegate in the slot, if there is one; any thread.
    template <class... Params, class... Args>
    void call(void (Delegate::*method)(Params...), Args&&... args)
    {
        const DelegateSlotCore::Call call(core_);
        if (auto* delegate = static_cast<Delegate*>(call.delegate()))
            (delegate->*method)(std::forward<Args>(args)...);
    }

private:
    DelegateSlotCore core_;
};

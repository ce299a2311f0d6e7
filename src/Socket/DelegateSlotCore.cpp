#include "Socket/DelegateSlotCore.h"

#include <algorithm>
#include <cassert>
#include <utility>

namespace {

struct OwnCall {
    const DelegateSlotCore* slot;
    void* delegate;
    bool operator==(const OwnCall&) const = default;
};

// The delegate calls on this thread's stack, innermost last: set() must not wait for these.
thread_local std::vector<OwnCall> ownCalls;

} // namespace

DelegateSlotCore::Call::Call(DelegateSlotCore& slot) : slot_(slot), delegate_(slot.begin()) {}

DelegateSlotCore::Call::~Call()
{
    if (delegate_)
        slot_.end(delegate_);
}

void* DelegateSlotCore::get() const
{
    std::lock_guard lock(mutex_);
    return delegate_;
}

void DelegateSlotCore::set(void* delegate)
{
    std::unique_lock lock(mutex_);
    void* const old = std::exchange(delegate_, delegate);
    if (!old || old == delegate)
        return;
    const auto own = std::count(ownCalls.begin(), ownCalls.end(), OwnCall{this, old});
    // A call on this thread's stack that waits here for a call on another thread closes a cycle as
    // soon as that call, in turn, replaces the delegate this thread is calling.
    assert((std::count(calling_.begin(), calling_.end(), old) == own ||
            ownCalls.size() == static_cast<size_t>(own)) &&
           "a delegate call never waits for a delegate call on another thread");
    callEnded_.wait(lock, [&] { return std::count(calling_.begin(), calling_.end(), old) == own; });
}

bool DelegateSlotCore::calledHere() const
{
    return std::any_of(ownCalls.begin(), ownCalls.end(), [this](const OwnCall& call) { return call.slot == this; });
}

void* DelegateSlotCore::begin()
{
    std::lock_guard lock(mutex_);
    if (delegate_) {
        calling_.push_back(delegate_);
        ownCalls.push_back({this, delegate_});
    }
    return delegate_;
}

void DelegateSlotCore::end(void* delegate)
{
    ownCalls.pop_back();
    {
        std::lock_guard lock(mutex_);
        calling_.erase(std::find(calling_.begin(), calling_.end(), delegate));
    }
    callEnded_.notify_all();
}

#pragma once

#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/DelegateSlot.h"
#include "Socket/ROZIOperationDelegate.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "Socket/VXTcpReverseVersionDelegate.h"

#include <tuple>
#include <utility>

// The session's delegate slots, one per interface: the parts of the connect and reverse-control
// delegates, and the three whole ones. Shared, so that a call posted to the main queue can outlive the
// manager.
class SessionDelegates {
public:
    template <class Delegate>
    DelegateSlot<Delegate>& slot()
    {
        return std::get<DelegateSlot<Delegate>>(slots_);
    }
    template <class Delegate>
    const DelegateSlot<Delegate>& slot() const
    {
        return std::get<DelegateSlot<Delegate>>(slots_);
    }

    // Calls the method on the delegate in the slot of the interface that declares it, if there is one.
    template <class Delegate, class... Params, class... Args>
    void call(void (Delegate::*method)(Params...), Args&&... args)
    {
        slot<Delegate>().call(method, std::forward<Args>(args)...);
    }

    // True while a call into one of the delegates is on the calling thread's stack.
    bool calledHere() const
    {
        return std::apply([](const auto&... slots) { return (slots.calledHere() || ...); }, slots_);
    }

private:
    std::tuple<DelegateSlot<TvConnectionDelegate>, DelegateSlot<TvCastDelegate>, DelegateSlot<TvTouchDelegate>,
               DelegateSlot<TvSendersDelegate>, DelegateSlot<TvFileOfferDelegate>, DelegateSlot<TvScreenDelegate>,
               DelegateSlot<TvKeyDelegate>, DelegateSlot<TvFilePushDelegate>, DelegateSlot<VXTcpReverseVersionDelegate>,
               DelegateSlot<ROZIOperationDelegate>, DelegateSlot<ActiveVersionsDelegate>>
        slots_;
};

#pragma once

#include "Platform/DispatchQueue.h"
#include "Socket/SessionDelegates.h"
#include "Socket/SessionEvent.h"

#include <cassert>
#include <memory>
#include <utility>

class SessionControl;

// One message's way to its delegate: its handler decodes the payload on the transport thread, then
// hands deliver() the action, which runs at once or is posted, as the message's table row says.
// Posted actions must own what they use: the transport reuses its buffers once the handler returns; a
// handler that hands on the transport's own bytes does so through lend().
class SessionEventDelivery {
public:
    SessionEventDelivery(SessionEvent::Delivery how, const std::shared_ptr<SessionDelegates>& delegates,
                         SessionControl& session, DispatchQueue& sessionQueue, DispatchQueue& mainQueue);

    SessionControl& session() const { return session_; }
    const std::shared_ptr<SessionDelegates>& delegates() const { return delegates_; }

    template <class Action>
    void deliver(Action&& action) const
    {
        if (how_ == SessionEvent::Delivery::AtOnce)
            action();
        else
            post(std::forward<Action>(action));
    }

    // Delivers one call of a delegate method, in the slot of the interface that declares it; the
    // arguments are copied into it.
    template <class Delegate, class... Params, class... Args>
    void call(void (Delegate::*method)(Params...), Args... args) const
    {
        deliver([delegates = delegates_, method, args...] { delegates->call(method, args...); });
    }

    // Runs an action that uses the transport's bytes, which live only during the handler: at once, on
    // the transport thread. Only a row that delivers at once may lend them (asserted), so a row edited
    // to post its action is caught here rather than left with a dangling pointer.
    template <class Action>
    void lend(Action&& action) const
    {
        assert(how_ == SessionEvent::Delivery::AtOnce && "a handler that lends the transport's bytes delivers at once");
        action();
    }

private:
    void post(DispatchQueue::Task action) const;

    const SessionEvent::Delivery how_;
    const std::shared_ptr<SessionDelegates>& delegates_;
    SessionControl& session_;
    DispatchQueue& sessionQueue_;
    DispatchQueue& mainQueue_;
};

#include "Socket/SessionEventDelivery.h"

#include <cassert>

SessionEventDelivery::SessionEventDelivery(SessionEvent::Delivery how,
                                           const std::shared_ptr<SessionDelegates>& delegates,
                                           SessionControl& session, DispatchQueue& sessionQueue,
                                           DispatchQueue& mainQueue)
    : how_(how), delegates_(delegates), session_(session), sessionQueue_(sessionQueue), mainQueue_(mainQueue)
{
}

void SessionEventDelivery::post(DispatchQueue::Task action) const
{
    DispatchQueue& queue = how_ == SessionEvent::Delivery::SessionQueue ? sessionQueue_ : mainQueue_;
    // Runs on that queue. The queue outlives it: the session queue runs it, the main queue is never freed.
    auto onQueue = [&queue, action = std::move(action)] {
        assert(queue.isCurrent() && "a session event's action runs on the queue it was posted to");
        action();
    };
    if (how_ == SessionEvent::Delivery::SessionQueue)
        queue.async(std::move(onQueue));
    else
        queue.asyncAfter(SessionEvent::kMainQueueDelay, std::move(onQueue));
}

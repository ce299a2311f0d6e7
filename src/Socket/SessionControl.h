#pragma once

#include <cstdint>
#include <optional>
#include <span>

class PointerFilter;

// What the TV's messages change in the session itself, beyond a delegate call. TCPManager is the
// implementation; the handlers of SessionEventTable reach it through SessionEventDelivery.
class SessionControl {
public:
    // Transport thread, as the link ends: forgets the link's answer and key. The link's generation,
    // for closeEndedLink, or nullopt when nobody was told of that link (a superseded connect made
    // it), so its end is not reported either.
    virtual std::optional<uint64_t> linkEnded() = 0;
    // Session queue: closes the client, unless a newer link than that generation is open by now.
    virtual void closeEndedLink(uint64_t generation) = 0;
    // Receive thread: the TV has answered the connect; the wait for its answer ends.
    virtual void serverInfoArrived() = 0;
    // Receive thread: sends our client information again.
    virtual void answerClientInfoRequest() = 0;
    // Receive thread: takes the session key the offer leads to and answers the TV.
    virtual void answerKeyExchange(std::span<const uint8_t> offer) = 0;
    // Ends the link. Any thread.
    virtual void tcpClientRelease() = 0;
    // The filter for the TV's touches: filter() on the receive thread, willDeliver() on the queue.
    virtual PointerFilter& pointerFilter() = 0;

protected:
    ~SessionControl() = default;
};

#include "Rozi/NetSocketTimeout.h"

#include "Platform/DispatchTimer.h"
#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketPacket.h"

#include <chrono>

namespace {

DispatchTimer::Clock::duration toDuration(double seconds)
{
    return std::chrono::duration_cast<DispatchTimer::Clock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

NetSocketTimeout::NetSocketTimeout(NetSocketContext& context, NetSocketCloser& closer, Direction direction)
    : context_(context), closer_(&closer), direction_(std::move(direction))
{
}

NetSocketTimeout::NetSocketTimeout(NetSocketContext& context, std::function<void()> expire)
    : context_(context), closer_(nullptr), expire_(std::move(expire))
{
}

NetSocketTimeout::~NetSocketTimeout() = default;

void NetSocketTimeout::start(double seconds)
{
    if (seconds < 0)
        return;
    if (!timer_) {
        // On the socket queue; `this` lives as long as the socket the handler holds while it runs.
        timer_ = std::make_unique<DispatchTimer>(context_.socketQueue, [weak = context_.self, this] {
            if (const auto socket = weak.lock())
                fire();
        });
    }
    timer_->start(toDuration(seconds));
}

void NetSocketTimeout::cancel()
{
    if (timer_)
        timer_->cancel();
}

void NetSocketTimeout::fire()
{
    if (!direction_) {
        expire_();
        return;
    }
    const NetSocketPacket* packet = direction_->current();
    if (packet == nullptr)
        return;
    context_.flags |= direction_->pausedBit;
    const long tag = packet->tag;
    const double elapsed = packet->timeout;
    const size_t bytesDone = packet->bytesDone;
    const bool asked =
        context_.notifier.post([socket = context_.self.lock(), weak = context_.self, queue = context_.socketQueue,
                                   ask = direction_->ask, tag, elapsed, bytesDone, this](NetSocketDelegate& delegate) {
            const double answer = (delegate.*ask)(socket, tag, elapsed, bytesDone);
            queue->async([weak, answer, this] {
                if (const auto held = weak.lock())
                    extend(answer);
            });
        });
    if (!asked)
        extend(0);
}

void NetSocketTimeout::extend(double seconds)
{
    NetSocketPacket* packet = direction_->current();
    if (packet == nullptr)
        return;
    if (seconds <= 0) {
        closer_->closeWithError(direction_->error());
        return;
    }
    packet->timeout += seconds;
    timer_->start(toDuration(seconds));
    context_.flags &= ~direction_->pausedBit;
    direction_->resume();
}

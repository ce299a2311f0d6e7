#include "Platform/ProgressRelay.h"

#include <cassert>

std::shared_ptr<ProgressRelay> ProgressRelay::create(std::shared_ptr<DispatchQueue> target, Deliver deliver)
{
    return std::shared_ptr<ProgressRelay>(new ProgressRelay(std::move(target), std::move(deliver)));
}

ProgressRelay::ProgressRelay(std::shared_ptr<DispatchQueue> target, Deliver deliver)
    : target_(std::move(target)), deliver_(std::move(deliver))
{
    lastDelivery_ = (target_->now() - kInterval).time_since_epoch().count();
}

void ProgressRelay::report(uint64_t done, uint64_t size)
{
    done_ = done;
    size_ = size;
    if (pending_.exchange(true))
        return;
    const auto next = DispatchQueue::Clock::time_point(DispatchQueue::Clock::duration(lastDelivery_.load())) + kInterval;
    const auto now = target_->now();
    target_->asyncAfter(next > now ? next - now : DispatchQueue::Clock::duration::zero(),
                        [self = shared_from_this()] { self->deliver(); });
}

void ProgressRelay::deliver()
{
    // The time first, then the flag: a report that finds the flag down already sees this delivery's time.
    lastDelivery_ = target_->now().time_since_epoch().count();
    pending_ = false;
    if (deliver_)
        deliver_(done_, size_);
}

ProgressRelay::Counts ProgressRelay::stop()
{
    assert(target_->isCurrent());
    deliver_ = nullptr;
    return {done_, size_};
}

#include "Rozi/NetSocketReadiness.h"

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDescriptor.h"

#include <utility>

NetSocketReadiness::NetSocketReadiness(NetSocketContext& context, DispatchSource::Kind kind, uint32_t suspendedBit)
    : context_(context), kind_(kind), suspendedBit_(suspendedBit)
{
}

bool NetSocketReadiness::attach(
    int fd, const std::shared_ptr<NetSocketDescriptor>& owner, std::function<void()> onReady)
{
    source_ = DispatchSource::create(
        fd, kind_, context_.socketQueue,
        [weak = context_.self, onReady = std::move(onReady)] {
            if (const auto socket = weak.lock())
                onReady();
        },
        [owner] {});
    context_.flags |= suspendedBit_;
    return source_ != nullptr;
}

void NetSocketReadiness::suspend()
{
    if (source_ && !context_.has(suspendedBit_)) {
        source_->suspend();
        context_.flags |= suspendedBit_;
    }
}

void NetSocketReadiness::resume()
{
    if (source_ && context_.has(suspendedBit_)) {
        source_->resume();
        context_.flags &= ~suspendedBit_;
    }
}

void NetSocketReadiness::cancel()
{
    if (source_)
        std::exchange(source_, nullptr)->cancel();
}

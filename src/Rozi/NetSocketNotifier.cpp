#include "Rozi/NetSocketNotifier.h"

#include "Platform/DispatchQueue.h"

bool NetSocketNotifier::post(Call call) const
{
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_)
        return false;
    delegateQueue_->async([delegate = std::move(delegate), call = std::move(call)] { call(*delegate); });
    return true;
}

void NetSocketNotifier::clear()
{
    delegate_.reset();
    delegateQueue_.reset();
}

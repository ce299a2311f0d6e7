#include "Rozi/NetSocketNotifier.h"

#include "Platform/DispatchQueue.h"

bool NetSocketNotifier::post(Call call) const
{
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_)
        return false;
    delegateQueue_->async([delegate = std::move(delegate), call = std::move(call)]() mutable {
        call(*delegate);
        // The socket the call holds goes now, while this task still counts as running on the queue: when
        // this queue is also the socket's own, its last owner closing it here must not wait for the queue.
        call = nullptr;
        delegate.reset();
    });
    return true;
}

bool NetSocketNotifier::post(NetSocketDelegate::Frequent callback, Call call) const
{
    const auto delegate = delegate_.lock();
    return delegate && delegate->implements(callback) && post(std::move(call));
}

void NetSocketNotifier::clear()
{
    delegate_.reset();
    delegateQueue_.reset();
}

#pragma once

#include "Rozi/NetSocketDelegate.h"

#include <functional>
#include <memory>

class DispatchQueue;

// A socket's delegate (held weakly) and its delegate queue, and the posting of calls to them. Used
// only on the socket queue.
class NetSocketNotifier {
public:
    using Call = std::function<void(NetSocketDelegate&)>;

    const std::weak_ptr<NetSocketDelegate>& delegate() const { return delegate_; }
    const std::shared_ptr<DispatchQueue>& delegateQueue() const { return delegateQueue_; }
    void setDelegate(std::weak_ptr<NetSocketDelegate> delegate) { delegate_ = std::move(delegate); }
    void setDelegateQueue(std::shared_ptr<DispatchQueue> queue) { delegateQueue_ = std::move(queue); }
    bool hasDelegate() const { return !delegate_.expired(); }

    // Posts the call to the delegate queue with the delegate loaded now, so the call reaches the
    // delegate that was set when it was made. False, posting nothing, without a delegate or a queue.
    bool post(Call call) const;
    // The same for one of the frequent callbacks, unless the delegate does not implement it.
    bool post(NetSocketDelegate::Frequent callback, Call call) const;
    void clear();

private:
    std::weak_ptr<NetSocketDelegate> delegate_;
    std::shared_ptr<DispatchQueue> delegateQueue_;
};

#include "Rozi/RoziWriteQueue.h"

RoziWriteQueue::Admit RoziWriteQueue::admit(size_t length)
{
    if (length > cap_ - queuedBytes_) {
        const bool first = !dropLogged_;
        dropLogged_ = true;
        return first ? Admit::DroppedFirst : Admit::Dropped;
    }
    queuedBytes_ += length;
    lengths_.push_back(length);
    return Admit::Queued;
}

void RoziWriteQueue::written()
{
    if (lengths_.empty())
        return;
    queuedBytes_ -= lengths_.front();
    lengths_.pop_front();
    dropLogged_ = false;
}

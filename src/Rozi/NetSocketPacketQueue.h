#pragma once

#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"

#include <cmath>
#include <deque>
#include <memory>

// The requests of one direction: those queued and the one in progress. Used on the socket queue.
template <class Packet> class NetSocketPacketQueue {
public:
    enum class Next { Busy, Empty, Started };

    // Queues the request when the socket is started and not refusing requests; false otherwise.
    bool push(const NetSocketContext& context, std::shared_ptr<Packet> packet)
    {
        if (!context.has(NetSocketFlag::Started) || context.has(NetSocketFlag::ForbidReadsWrites))
            return false;
        queued_.push_back(std::move(packet));
        return true;
    }
    // Makes the next request current when none is and the socket is connected.
    Next next(const NetSocketContext& context)
    {
        if (current_ || !context.has(NetSocketFlag::Connected))
            return Next::Busy;
        if (queued_.empty())
            return Next::Empty;
        current_ = std::move(queued_.front());
        queued_.pop_front();
        return Next::Started;
    }

    Packet* current() const { return current_.get(); }
    bool busy() const { return current_ || !queued_.empty(); }
    void endCurrent() { current_.reset(); }
    void clear()
    {
        current_.reset();
        queued_.clear();
    }
    // Tag, bytes done and `total` of the current request and the fraction done; NaN without one.
    float progress(long* tag, size_t* done, size_t* total, size_t totalOfCurrent) const
    {
        *tag = current_ ? current_->tag : 0;
        *done = current_ ? current_->bytesDone : 0;
        *total = current_ ? totalOfCurrent : 0;
        if (!current_)
            return NAN;
        return totalOfCurrent > 0 ? float(double(current_->bytesDone) / double(totalOfCurrent)) : 1.0f;
    }

private:
    std::deque<std::shared_ptr<Packet>> queued_;
    std::shared_ptr<Packet> current_;
};

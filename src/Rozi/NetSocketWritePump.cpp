#include "Rozi/NetSocketWritePump.h"

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDescriptor.h"
#include "Rozi/NetSocketFlags.h"

#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <utility>

NetSocketWritePump::NetSocketWritePump(NetSocketContext& context, NetSocketCloser& closer)
    : context_(context), closer_(closer),
      source_(context, DispatchSource::Kind::Write, NetSocketFlag::WriteSourceSuspended),
      timeout_(context, closer,
               {NetSocketFlag::WritesPaused, &NetSocketDelegate::shouldTimeoutWriteWithTag, &NetSocketError::writeTimeout,
                [this] { return current_.get(); }, [this] { doWriteData(); }})
{
}

NetSocketWritePump::~NetSocketWritePump() = default;

void NetSocketWritePump::enqueue(std::shared_ptr<NetSocketWritePacket> packet)
{
    if (!context_.has(NetSocketFlag::Started) || context_.has(NetSocketFlag::ForbidReadsWrites))
        return;
    queue_.push_back(std::move(packet));
    maybeDequeueWrite();
}

void NetSocketWritePump::maybeDequeueWrite()
{
    if (current_ || !context_.has(NetSocketFlag::Connected))
        return;
    if (queue_.empty()) {
        if (context_.has(NetSocketFlag::DisconnectAfterWrites))
            closer_.maybeClose();
        return;
    }
    current_ = std::move(queue_.front());
    queue_.pop_front();
    timeout_.start(current_->timeout);
    doWriteData();
}

bool NetSocketWritePump::attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner)
{
    const bool attached = source_.attach(fd, owner, [this] {
        context_.flags |= NetSocketFlag::SocketCanAcceptBytes;
        doWriteData();
    });
    // The source stays suspended until a write finds the descriptor full.
    context_.flags |= NetSocketFlag::SocketCanAcceptBytes;
    return attached;
}

void NetSocketWritePump::clear()
{
    endCurrentWrite();
    queue_.clear();
}

float NetSocketWritePump::progress(long* tag, size_t* done, size_t* total) const
{
    *tag = current_ ? current_->tag : 0;
    *done = current_ ? current_->bytesDone : 0;
    *total = current_ ? current_->buffer->size() : 0;
    if (!current_)
        return NAN;
    return float(double(current_->bytesDone) / double(current_->buffer->size()));
}

void NetSocketWritePump::doWriteData()
{
    if (!current_ || context_.has(NetSocketFlag::WritesPaused)) {
        if (context_.has(NetSocketFlag::SocketCanAcceptBytes))
            source_.suspend();
        return;
    }
    if (!context_.has(NetSocketFlag::SocketCanAcceptBytes)) {
        source_.resume();
        return;
    }

    bool waiting = false;
    std::optional<NetSocketError> error;
    size_t written = 0;
    // MSG_NOSIGNAL: a peer that reset the connection gives EPIPE here, never a signal.
    const ssize_t result = ::send(context_.connectedFD(), current_->nextBytes(), current_->remaining(), MSG_NOSIGNAL);
    if (result < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            waiting = true;
        else
            error = NetSocketError::posix(errno, "Error in write() function");
    } else {
        written = size_t(result);
    }
    if (waiting) {
        context_.flags &= ~NetSocketFlag::SocketCanAcceptBytes;
        source_.resume();
    }

    current_->bytesDone += written;
    if (current_->remaining() == 0) {
        completeCurrentWrite();
        if (!error) {
            // The next write starts only after this completion has been posted.
            context_.socketQueue->async([weak = context_.self, this] {
                if (const auto socket = weak.lock())
                    maybeDequeueWrite();
            });
        }
    } else {
        if (!waiting && !error) {
            // A short write: the descriptor is full for now.
            context_.flags &= ~NetSocketFlag::SocketCanAcceptBytes;
            source_.resume();
        }
        if (written > 0) {
            context_.notifier.post([socket = context_.self.lock(), written, tag = current_->tag](NetSocketDelegate& delegate) {
                delegate.didWritePartialDataOfLength(socket, written, tag);
            });
        }
    }
    if (error)
        closer_.closeWithError(std::move(error));
}

void NetSocketWritePump::completeCurrentWrite()
{
    context_.notifier.post([socket = context_.self.lock(), tag = current_->tag](NetSocketDelegate& delegate) {
        delegate.didWriteDataWithTag(socket, tag);
    });
    endCurrentWrite();
}

void NetSocketWritePump::endCurrentWrite()
{
    timeout_.cancel();
    current_.reset();
}

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
              [this] { return packets_.current(); }, [this] { doWriteData(); }})
{
}

NetSocketWritePump::~NetSocketWritePump() = default;

void NetSocketWritePump::enqueue(std::shared_ptr<NetSocketWritePacket> packet)
{
    if (packets_.push(context_, std::move(packet)))
        maybeDequeueWrite();
}

void NetSocketWritePump::maybeDequeueWrite()
{
    switch (packets_.next(context_)) {
    case NetSocketPacketQueue<NetSocketWritePacket>::Next::Empty:
        if (context_.has(NetSocketFlag::DisconnectAfterWrites))
            closer_.maybeClose();
        break;
    case NetSocketPacketQueue<NetSocketWritePacket>::Next::Started:
        timeout_.start(packets_.current()->timeout);
        doWriteData();
        break;
    case NetSocketPacketQueue<NetSocketWritePacket>::Next::Busy:
        break;
    }
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
    packets_.clear();
}

float NetSocketWritePump::progress(long* tag, size_t* done, size_t* total) const
{
    const NetSocketWritePacket* current = packets_.current();
    return packets_.progress(tag, done, total, current ? current->buffer->size() : 0);
}

void NetSocketWritePump::doWriteData()
{
    if (!packets_.current() || context_.has(NetSocketFlag::WritesPaused)) {
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
    const ssize_t result =
        ::send(context_.connectedFD(), packets_.current()->nextBytes(), packets_.current()->remaining(), MSG_NOSIGNAL);
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

    packets_.current()->bytesDone += written;
    if (packets_.current()->remaining() == 0) {
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
            context_.notifier.post(NetSocketDelegate::DidWritePartialData, 
                [socket = context_.self.lock(), written, tag = packets_.current()->tag](
                    NetSocketDelegate& delegate) { delegate.didWritePartialDataOfLength(socket, written, tag); });
        }
    }
    if (error)
        closer_.closeWithError(std::move(error));
}

void NetSocketWritePump::completeCurrentWrite()
{
    context_.notifier.post(NetSocketDelegate::DidWriteData, [socket = context_.self.lock(), tag = packets_.current()->tag](
                               NetSocketDelegate& delegate) { delegate.didWriteDataWithTag(socket, tag); });
    endCurrentWrite();
}

void NetSocketWritePump::endCurrentWrite()
{
    timeout_.cancel();
    packets_.endCurrent();
}

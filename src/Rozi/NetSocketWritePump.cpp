#include "Rozi/NetSocketWritePump.h"

#include "Platform/SerialQueue.h"
#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketDescriptor.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketTLS.h"
#include "Rozi/NetSocketTLSStatus.h"

#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <utility>

NetSocketWritePump::NetSocketWritePump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls)
    : NetSocketPump(context, closer, tls,
          {DispatchSource::Kind::Write, NetSocketFlag::WriteSourceSuspended, NetSocketFlag::StartingWriteTLS,
              NetSocketFlag::WritesPaused, &NetSocketDelegate::shouldTimeoutWriteWithTag,
              &NetSocketError::writeTimeout})
{
}

NetSocketWritePump::~NetSocketWritePump() = default;

void NetSocketWritePump::queueEmptied()
{
    if (context_.has(NetSocketFlag::DisconnectAfterWrites))
        closer_.maybeClose();
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

    if (waitAtTLSStart())
        return;

    bool waiting = false;
    std::optional<NetSocketError> error;
    const size_t written = send(&waiting, &error);
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
                    maybeDequeue();
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

size_t NetSocketWritePump::send(bool* waiting, std::optional<NetSocketError>* error)
{
    NetSocketWritePacket& write = *packets_.current();
    if (context_.has(NetSocketFlag::SocketSecure)) {
        size_t written = 0;
        const long status = tls_.write(write.nextBytes(), write.remaining(), &written);
        if (status == NetSocketTLSStatus::WouldBlock)
            *waiting = true;
        else if (status != NetSocketTLSStatus::Success)
            *error = NetSocketTLSStatus::error(status);
        return written;
    }
    // MSG_NOSIGNAL: a peer that reset the connection gives EPIPE here, never a signal.
    const ssize_t result = ::send(context_.connectedFD(), write.nextBytes(), write.remaining(), MSG_NOSIGNAL);
    if (result >= 0)
        return size_t(result);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        *waiting = true;
    else
        *error = NetSocketError::posix(errno, "Error in write() function");
    return 0;
}

void NetSocketWritePump::completeCurrentWrite()
{
    context_.notifier.post(NetSocketDelegate::DidWriteData, [socket = context_.self.lock(), tag = packets_.current()->tag](
                               NetSocketDelegate& delegate) { delegate.didWriteDataWithTag(socket, tag); });
    endCurrent();
}

#include "Rozi/NetSocketPump.h"

#include "Rozi/NetSocketContext.h"
#include "Rozi/NetSocketFlags.h"
#include "Rozi/NetSocketReadPacket.h"
#include "Rozi/NetSocketTLS.h"
#include "Rozi/NetSocketWritePacket.h"

#include <utility>

template <class Packet>
NetSocketPump<Packet>::NetSocketPump(
    NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls, const Direction& direction)
    : context_(context), closer_(closer), tls_(tls), source_(context, direction.kind, direction.sourceSuspendedBit),
      startingTLSBit_(direction.startingTLSBit),
      timeout_(context, closer,
          {direction.pausedBit, direction.askForMoreTime, direction.timeoutError, [this] { return packets_.current(); },
              [this] { doWork(); }})
{
}

template <class Packet> NetSocketPump<Packet>::~NetSocketPump() = default;

template <class Packet> void NetSocketPump<Packet>::enqueue(std::shared_ptr<Packet> packet)
{
    if (packets_.push(context_, std::move(packet)))
        maybeDequeue();
}

template <class Packet> void NetSocketPump<Packet>::maybeDequeue()
{
    switch (packets_.next(context_)) {
    case NetSocketPacketQueue<Packet>::Next::Empty:
        queueEmptied();
        break;
    case NetSocketPacketQueue<Packet>::Next::Started:
        if (packets_.current()->tlsSettings) {
            context_.flags |= startingTLSBit_;
            tls_.maybeStartTLS();
            break;
        }
        timeout_.start(packets_.current()->timeout);
        doWork();
        break;
    case NetSocketPacketQueue<Packet>::Next::Busy:
        break;
    }
}

template <class Packet> float NetSocketPump<Packet>::progress(long* tag, size_t* done, size_t* total) const
{
    const Packet* current = packets_.current();
    return packets_.progress(tag, done, total, current ? totalOf(*current) : 0);
}

template <class Packet> void NetSocketPump<Packet>::endCurrent()
{
    timeout_.cancel();
    packets_.endCurrent();
}

template <class Packet> void NetSocketPump<Packet>::clear()
{
    endCurrent();
    packets_.clear();
}

template <class Packet> bool NetSocketPump<Packet>::waitAtTLSStart()
{
    if (!context_.has(startingTLSBit_))
        return false;
    const uint32_t otherStartingTLSBit =
        (NetSocketFlag::StartingReadTLS | NetSocketFlag::StartingWriteTLS) & ~startingTLSBit_;
    if (context_.has(otherStartingTLSBit) && tls_.handshakeWouldBlock())
        tls_.continueHandshake();
    else
        source_.suspend();
    return true;
}

template class NetSocketPump<NetSocketReadPacket>;
template class NetSocketPump<NetSocketWritePacket>;

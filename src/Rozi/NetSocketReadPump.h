#pragma once

#include "Rozi/NetSocketPreBuffer.h"
#include "Rozi/NetSocketPump.h"
#include "Rozi/NetSocketReadPacket.h"

#include <memory>

class NetSocketDescriptor;

// The reading half of a NetSocket: queued reads served one at a time, fed by the read readiness
// source of the connected descriptor and by the pre-buffer, which keeps bytes read past the end of
// a read for the next one. Everything runs on the socket queue.
class NetSocketReadPump : public NetSocketPump<NetSocketReadPacket> {
public:
    NetSocketReadPump(NetSocketContext& context, NetSocketCloser& closer, NetSocketTLS& tls);
    ~NetSocketReadPump() override;

    // Watches the connected descriptor, which `owner` closes once the last source lets go of it.
    bool attach(int fd, const std::shared_ptr<NetSocketDescriptor>& owner);

    // Ends the current read without a callback, drops the queued ones and the pre-buffered bytes.
    void clear();

    // What the TLS layer reads through.
    size_t& socketFDBytesAvailable() { return bytesAvailable_; }
    NetSocketPreBuffer& preBuffer() { return preBuffer_; }
    // The settings of the TLS marker when it is the current read.
    std::shared_ptr<const NetSocketTLSSettings> currentTLSSettings() const;

private:
    void doWork() override { doReadData(); }
    void queueEmptied() override;
    size_t totalOf(const NetSocketReadPacket& read) const override { return read.readLength; }
    void onReadable();
    void doReadData();
    void doReadEOF();
    // Copies what the current read may take from the pre-buffer; sets *done, or *error for a
    // terminator not found within the maximum.
    size_t takeFromPreBuffer(bool* done, std::optional<NetSocketError>* error);
    // One read() from the descriptor for the current read; the same outputs, plus whether it must
    // wait for more and whether the peer ended the stream.
    size_t takeFromDescriptor(bool* done, bool* waiting, bool* endOfStream, std::optional<NetSocketError>* error);
    // Reads from the descriptor, through TLS on a secure socket.
    size_t receive(uint8_t* target, size_t length, bool* waiting, bool* endOfStream, std::optional<NetSocketError>* error);
    void completeCurrentRead();

    NetSocketPreBuffer preBuffer_;
    // What the last readiness event said the descriptor holds, less what was read since.
    size_t bytesAvailable_ = 0;
};

#pragma once

#include "Rozi/NetSocketPreBuffer.h"
#include "Rozi/NetSocketTLSSession.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class DispatchTimer;
class NetSocketCloser;
class NetSocketReadPump;
class NetSocketTLSSettings;
class NetSocketWritePump;
struct NetSocketContext;
struct ssl_st;

// The TLS side of a NetSocket: starts a session in place once both directions reached the TLS
// marker, drives the handshake from the readiness of either direction, asks the delegate about trust
// when the settings say so, and carries the record layer over the descriptor, reading through the
// read pump's pending count so readiness keeps driving reads. Everything runs on the socket queue.
class NetSocketTLS final : private NetSocketTLSConnection {
public:
    NetSocketTLS(NetSocketContext& context, NetSocketCloser& closer, NetSocketReadPump& readPump,
        NetSocketWritePump& writePump);
    ~NetSocketTLS();
    NetSocketTLS(const NetSocketTLS&) = delete;
    NetSocketTLS& operator=(const NetSocketTLS&) = delete;

    // Puts the TLS marker in both queues, unless the socket is not started, refuses requests or has
    // a TLS start queued already.
    void queueStart(const std::shared_ptr<const NetSocketTLSSettings>& settings);
    // Starts the session once both directions reached the marker.
    void maybeStartTLS();
    void continueHandshake();
    bool handshakeWouldBlock() const;
    // Bytes that may turn into decrypted ones without the descriptor: raw ones held for the record
    // layer and decrypted ones it holds.
    size_t bufferedBytes() const;
    // Decrypted bytes of a secure socket; the end of the session is kept for closeStatus().
    long read(uint8_t* buffer, size_t length, size_t* got);
    // Writes from `bytes` (the rest of the current write) in slices; *written counts the slices sent.
    // A slice that would block is kept and written again, with the same bytes, on the next call.
    long write(const uint8_t* bytes, size_t remaining, size_t* written);
    // Moves what can be decrypted now into the (empty) plain pre-buffer.
    void flushSSLBuffers(NetSocketPreBuffer& plain);
    // How the session ended, once the descriptor reached its end: 0 when no session runs.
    long closeStatus();
    // Ends the session, sending close_notify when it was secure, and forgets every trust question.
    void close();
    ssl_st* sslContext() const { return session_ ? session_->ssl() : nullptr; }

private:
    long tlsRead(uint8_t* buffer, size_t length, size_t* delivered) override;
    long tlsWrite(const uint8_t* buffer, size_t length, size_t* written) override;
    void startTLS();
    // Arms the handshake's deadline from the settings; false (the socket closed) for a bad value.
    bool armHandshakeDeadline(const NetSocketTLSSettings& settings);
    void didSecure();
    void askForTrust();
    void shouldTrustPeer(std::optional<bool> trusted, uint64_t generation);

    NetSocketContext& context_;
    NetSocketCloser& closer_;
    NetSocketReadPump& readPump_;
    NetSocketWritePump& writePump_;
    std::unique_ptr<NetSocketTLSSession> session_;
    std::unique_ptr<DispatchTimer> handshakeDeadline_;
    // Raw bytes read ahead for the record layer, starting with those read in the clear.
    NetSocketPreBuffer sslPreBuffer_;
    size_t sslWriteCachedLength_ = 0;
    long sslErrCode_ = 0;
    long lastSSLHandshakeError_ = 0;
    // Names the trust question in flight; an answer that carries another number is stale.
    uint64_t trustGeneration_ = 0;
};

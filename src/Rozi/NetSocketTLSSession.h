#pragma once

#include "Rozi/NetSocketTrust.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;
struct bio_st;
struct x509_store_ctx_st;

// Where the record layer of a session reads and writes its bytes. Each returns a status of
// NetSocketTLSStatus and how many bytes it moved, which may be fewer than asked with WouldBlock.
class NetSocketTLSConnection {
public:
    virtual long tlsRead(uint8_t* buffer, size_t length, size_t* delivered) = 0;
    virtual long tlsWrite(const uint8_t* buffer, size_t length, size_t* written) = 0;

protected:
    ~NetSocketTLSConnection() = default;
};

// One TLS session of OpenSSL: its context, its connection object and the BIO through which it
// talks to the NetSocketTLSConnection. Statuses are those of NetSocketTLSStatus.
class NetSocketTLSSession {
public:
    // Null, with the failure's text, when OpenSSL cannot make the session.
    static std::unique_ptr<NetSocketTLSSession> create(
        bool server, NetSocketTLSConnection& connection, std::string* failure);
    ~NetSocketTLSSession();
    NetSocketTLSSession(const NetSocketTLSSession&) = delete;
    NetSocketTLSSession& operator=(const NetSocketTLSSession&) = delete;

    ssl_st* ssl() const { return ssl_; }
    ssl_ctx_st* context() const { return context_; }
    bool isServer() const { return server_; }

    // Client: the handshake stops at the server's chain until trustPeer().
    void evaluateTrustManually();
    // Client: resumes the session kept for the peer ID and keeps the new one under it.
    void setPeerID(std::vector<uint8_t> peerID);
    // False when the list cannot be set. A server picks the first of its own that the client offers.
    bool setALPN(const std::vector<std::string>& protocols);

    long handshake();
    // Reads decrypted bytes until `length` came or a status stops it.
    long read(uint8_t* buffer, size_t length, size_t* got);
    // Writes all `length` bytes or none; after WouldBlock it must be called again with the same bytes.
    long write(const uint8_t* buffer, size_t length);
    // Decrypted bytes that the session holds.
    size_t buffered() const;
    // The server's chain as the manual evaluation found it; null before.
    std::shared_ptr<const NetSocketTrust> trust() const { return trust_; }
    void trustPeer() { trustAnswer_ = TrustAnswer::Trusted; }
    bool receivedCloseNotify() const;
    // Sends close_notify when the connection takes it now.
    void shutdown();

    // OpenSSL's callbacks, set on the shared contexts.
    static int newSessionCallback(ssl_st* ssl, struct ssl_session_st* session);
    static int selectALPNCallback(ssl_st* ssl, const unsigned char** out, unsigned char* outLength,
        const unsigned char* in, unsigned int inLength, void* argument);

private:
    enum class TrustAnswer { Unasked, Asked, Trusted };

    NetSocketTLSSession(bool server, NetSocketTLSConnection& connection);
    static int verifyCallback(int preverified, x509_store_ctx_st* store);
    int verify(bool preverified, x509_store_ctx_st* store);

    const bool server_;
    NetSocketTLSConnection& connection_;
    ssl_ctx_st* context_ = nullptr;
    ssl_st* ssl_ = nullptr;
    TrustAnswer trustAnswer_ = TrustAnswer::Unasked;
    std::shared_ptr<NetSocketTrust> trust_;
    std::vector<uint8_t> peerID_;
    // The server's ALPN list in wire form.
    std::vector<uint8_t> alpn_;
};

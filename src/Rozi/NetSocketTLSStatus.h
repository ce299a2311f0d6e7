#pragma once

#include "Rozi/NetSocketError.h"

struct ssl_st;

// The statuses of the TLS layer, as handshake, read and write report them and as TLS errors carry
// them in their code. OpenSSL's results are mapped onto this table, so callers see one set of codes.
namespace NetSocketTLSStatus {
enum : long {
    Success = 0,
    Protocol = -9800, // a protocol failure without a more precise status
    WouldBlock = -9803, // the connection has no bytes, or no room, for now
    ClosedGraceful = -9805, // the peer ended the session with close_notify
    ClosedAbort = -9806, // the connection ended without close_notify, or failed
    CertificateInvalid = -9807, // the peer's certificate chain or name failed verification
    PeerRefused = -9824, // the peer ended the handshake with an alert
    BadCertificate = -9825, // the delegate did not trust the peer
    PeerAuthCompleted = -9841, // manual trust: the peer's chain waits for the delegate's answer
};

constexpr const char* kDomain = "kCFStreamErrorDomainSSL";

// A TLS failure as an error of kDomain, pointing at this table for the meaning of its code.
NetSocketError error(long status);
// The status of an OpenSSL call that returned `result` on `ssl`.
long fromResult(ssl_st* ssl, int result);
} // namespace NetSocketTLSStatus

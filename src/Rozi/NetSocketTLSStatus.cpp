#include "Rozi/NetSocketTLSStatus.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace NetSocketTLSStatus {

namespace {

const char* describe(long status)
{
    switch (status) {
    case WouldBlock:
        return "TLS operation would block";
    case ClosedGraceful:
        return "TLS session closed by the peer";
    case ClosedAbort:
        return "TLS connection closed without close_notify";
    case CertificateInvalid:
        return "TLS peer certificate failed verification";
    case PeerRefused:
        return "TLS handshake refused by the peer";
    case BadCertificate:
        return "TLS peer not trusted";
    case PeerAuthCompleted:
        return "TLS peer authentication waits for trust";
    default:
        return "TLS protocol error";
    }
}

} // namespace

NetSocketError error(long status)
{
    return {kDomain, status, describe(status), {}, "Error code definition can be found in NetSocketTLSStatus.h"};
}

long fromResult(ssl_st* ssl, int result)
{
    const int code = SSL_get_error(ssl, result);
    switch (code) {
    case SSL_ERROR_NONE:
        return Success;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
        return WouldBlock;
    case SSL_ERROR_WANT_RETRY_VERIFY:
        return PeerAuthCompleted;
    case SSL_ERROR_ZERO_RETURN:
        return ClosedGraceful;
    case SSL_ERROR_SYSCALL:
        return ClosedAbort;
    default:
        break;
    }
    const unsigned long detail = ERR_peek_error();
    ERR_clear_error();
    if (ERR_GET_REASON(detail) == SSL_R_UNEXPECTED_EOF_WHILE_READING)
        return ClosedAbort;
    if (ERR_GET_REASON(detail) == SSL_R_CERTIFICATE_VERIFY_FAILED || SSL_get_verify_result(ssl) != X509_V_OK)
        return CertificateInvalid;
    if (ERR_GET_LIB(detail) == ERR_LIB_SSL && ERR_GET_REASON(detail) >= SSL_AD_REASON_OFFSET)
        return PeerRefused;
    return Protocol;
}

} // namespace NetSocketTLSStatus

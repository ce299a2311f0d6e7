#include "Rozi/NetSocketTLSSession.h"

#include "Rozi/NetSocketTLSSessionCache.h"
#include "Rozi/NetSocketTLSStatus.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <climits>

namespace {

NetSocketTLSConnection& connectionOf(BIO* bio)
{
    return *static_cast<NetSocketTLSConnection*>(BIO_get_data(bio));
}

int bioRead(BIO* bio, char* out, int length)
{
    BIO_clear_retry_flags(bio);
    size_t got = 0;
    const long status = connectionOf(bio).tlsRead(reinterpret_cast<uint8_t*>(out), size_t(length), &got);
    if (got > 0)
        return int(got);
    if (status == NetSocketTLSStatus::WouldBlock) {
        BIO_set_retry_read(bio);
        return -1;
    }
    return 0; // the end of the connection
}

int bioWrite(BIO* bio, const char* in, int length)
{
    BIO_clear_retry_flags(bio);
    size_t written = 0;
    const long status = connectionOf(bio).tlsWrite(reinterpret_cast<const uint8_t*>(in), size_t(length), &written);
    if (written > 0)
        return int(written);
    if (status == NetSocketTLSStatus::WouldBlock)
        BIO_set_retry_write(bio);
    return -1;
}

long bioControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int bioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// One method for every session; OpenSSL keeps it for the life of the process.
BIO_METHOD* connectionMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* made = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "NetSocket");
        if (made != nullptr) {
            BIO_meth_set_read(made, bioRead);
            BIO_meth_set_write(made, bioWrite);
            BIO_meth_set_ctrl(made, bioControl);
            BIO_meth_set_create(made, bioCreate);
        }
        return made;
    }();
    return method;
}

int sessionIndex()
{
    static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

NetSocketTLSSession& sessionOf(SSL* ssl)
{
    return *static_cast<NetSocketTLSSession*>(SSL_get_ex_data(ssl, sessionIndex()));
}

std::string pemOf(X509* certificate)
{
    BIO* memory = BIO_new(BIO_s_mem());
    std::string text;
    if (memory != nullptr && PEM_write_bio_X509(memory, certificate) == 1) {
        char* data = nullptr;
        const long length = BIO_get_mem_data(memory, &data);
        text.assign(data, size_t(length));
    }
    BIO_free(memory);
    return text;
}

// One context per side for the whole process: making one costs more than a handshake, and a shared
// server context lets clients resume their sessions. What differs per socket is set on its SSL.
SSL_CTX* sharedContext(bool server)
{
    // Sockets may still be closing on dispatch threads while the process exits: OpenSSL must not
    // free its state under them at exit (this takes effect where it is the first use of OpenSSL).
    static const bool initialized = OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)initialized;
    static SSL_CTX* const serverContext = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_server_method());
        if (context != nullptr)
            SSL_CTX_set_alpn_select_cb(context, NetSocketTLSSession::selectALPNCallback, nullptr);
        return context;
    }();
    static SSL_CTX* const clientContext = [] {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (context != nullptr) {
            // Like the platform's client, trust the system's roots unless the delegate evaluates trust.
            SSL_CTX_set_default_verify_paths(context);
            SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
            SSL_CTX_sess_set_new_cb(context, NetSocketTLSSession::newSessionCallback);
        }
        return context;
    }();
    SSL_CTX* context = server ? serverContext : clientContext;
    if (context != nullptr)
        SSL_CTX_up_ref(context);
    return context;
}

} // namespace

NetSocketTLSSession::NetSocketTLSSession(bool server, NetSocketTLSConnection& connection)
    : server_(server), connection_(connection)
{
}

std::unique_ptr<NetSocketTLSSession> NetSocketTLSSession::create(
    bool server, NetSocketTLSConnection& connection, std::string* failure)
{
    std::unique_ptr<NetSocketTLSSession> session(new NetSocketTLSSession(server, connection));
    session->context_ = sharedContext(server);
    if (session->context_ != nullptr)
        session->ssl_ = SSL_new(session->context_);
    if (session->ssl_ == nullptr) {
        *failure = "Error in SSLCreateContext";
        return nullptr;
    }
    SSL_set_ex_data(session->ssl_, sessionIndex(), session.get());
    BIO* bio = connectionMethod() != nullptr ? BIO_new(connectionMethod()) : nullptr;
    if (bio == nullptr) {
        *failure = "Error in SSLSetIOFuncs";
        return nullptr;
    }
    BIO_set_data(bio, &connection);
    SSL_set_bio(session->ssl_, bio, bio);
    if (server) {
        SSL_set_accept_state(session->ssl_);
    } else {
        SSL_set_verify(session->ssl_, SSL_VERIFY_PEER, nullptr);
        SSL_set_connect_state(session->ssl_);
    }
    return session;
}

NetSocketTLSSession::~NetSocketTLSSession()
{
    SSL_free(ssl_);
    SSL_CTX_free(context_);
}

void NetSocketTLSSession::evaluateTrustManually()
{
    SSL_set_verify(ssl_, SSL_VERIFY_PEER, verifyCallback);
}

int NetSocketTLSSession::verifyCallback(int preverified, X509_STORE_CTX* store)
{
    SSL* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    return sessionOf(ssl).verify(preverified == 1, store);
}

// Called for each certificate of the chain: the first pass records OpenSSL's own verdict and makes
// the handshake stop for the delegate; the pass after a yes accepts the chain.
int NetSocketTLSSession::verify(bool preverified, X509_STORE_CTX* store)
{
    if (trustAnswer_ == TrustAnswer::Trusted)
        return 1;
    if (trustAnswer_ == TrustAnswer::Unasked) {
        trust_ = std::make_shared<NetSocketTrust>();
        trust_->trustedByDefault = true;
        STACK_OF(X509)* chain = X509_STORE_CTX_get0_untrusted(store);
        for (int i = 0; i < sk_X509_num(chain); ++i)
            trust_->certificateChain.push_back(pemOf(sk_X509_value(chain, i)));
        trustAnswer_ = TrustAnswer::Asked;
        SSL_set_retry_verify(ssl_);
    }
    if (!preverified && trust_->trustedByDefault) {
        trust_->trustedByDefault = false;
        trust_->evaluationError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
    }
    return 1;
}

void NetSocketTLSSession::setPeerID(std::vector<uint8_t> peerID)
{
    peerID_ = std::move(peerID);
    if (server_)
        return;
    if (SSL_SESSION* kept = NetSocketTLSSessionCache::shared().find(peerID_)) {
        SSL_set_session(ssl_, kept);
        SSL_SESSION_free(kept);
    }
}

int NetSocketTLSSession::newSessionCallback(SSL* ssl, SSL_SESSION* session)
{
    const NetSocketTLSSession& owner = sessionOf(ssl);
    if (!owner.peerID_.empty())
        NetSocketTLSSessionCache::shared().store(owner.peerID_, session);
    return 0; // the cache took a reference of its own
}

bool NetSocketTLSSession::setALPN(const std::vector<std::string>& protocols)
{
    alpn_.clear();
    for (const std::string& protocol : protocols) {
        alpn_.push_back(uint8_t(protocol.size()));
        alpn_.insert(alpn_.end(), protocol.begin(), protocol.end());
    }
    if (alpn_.size() > UINT_MAX)
        return false;
    return server_ || SSL_set_alpn_protos(ssl_, alpn_.data(), unsigned(alpn_.size())) == 0;
}

int NetSocketTLSSession::selectALPNCallback(SSL* ssl, const unsigned char** out, unsigned char* outLength,
    const unsigned char* in, unsigned int inLength, void*)
{
    const NetSocketTLSSession& session = sessionOf(ssl);
    if (session.alpn_.empty())
        return SSL_TLSEXT_ERR_NOACK;
    unsigned char* chosen = nullptr;
    const int result = SSL_select_next_proto(
        &chosen, outLength, session.alpn_.data(), unsigned(session.alpn_.size()), in, inLength);
    *out = chosen;
    return result == OPENSSL_NPN_NEGOTIATED ? SSL_TLSEXT_ERR_OK : SSL_TLSEXT_ERR_NOACK;
}

long NetSocketTLSSession::handshake()
{
    ERR_clear_error();
    return NetSocketTLSStatus::fromResult(ssl_, SSL_do_handshake(ssl_));
}

long NetSocketTLSSession::read(uint8_t* buffer, size_t length, size_t* got)
{
    *got = 0;
    while (*got < length) {
        size_t chunk = 0;
        ERR_clear_error();
        const int result = SSL_read_ex(ssl_, buffer + *got, length - *got, &chunk);
        if (result != 1)
            return NetSocketTLSStatus::fromResult(ssl_, result);
        *got += chunk;
    }
    return NetSocketTLSStatus::Success;
}

long NetSocketTLSSession::write(const uint8_t* buffer, size_t length)
{
    size_t written = 0;
    ERR_clear_error();
    const int result = SSL_write_ex(ssl_, buffer, length, &written);
    return result == 1 ? NetSocketTLSStatus::Success : NetSocketTLSStatus::fromResult(ssl_, result);
}

size_t NetSocketTLSSession::buffered() const
{
    return size_t(SSL_pending(ssl_));
}

bool NetSocketTLSSession::receivedCloseNotify() const
{
    return (SSL_get_shutdown(ssl_) & SSL_RECEIVED_SHUTDOWN) != 0;
}

void NetSocketTLSSession::shutdown()
{
    if (SSL_is_init_finished(ssl_)) {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        ERR_clear_error();
    }
}

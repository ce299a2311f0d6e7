#include "Rozi/NetSocketTLSConfigurator.h"

#include "Rozi/NetSocketTLSIdentities.h"
#include "Rozi/NetSocketTLSSession.h"
#include "Rozi/NetSocketTLSSettings.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace {

using Settings = NetSocketTLSSettings;
using Failure = std::optional<std::string>;

// Runs `use` with the key's value when the key is present: a value of another kind fails with
// "Invalid value for <key>.", a refused one with `callFailure`.
template <class T>
Failure applyKey(const Settings& settings, const char* key, const char* callFailure, const std::function<bool(const T&)>& use)
{
    bool present = false;
    const T* value = settings.get<T>(key, &present);
    if (!present)
        return std::nullopt;
    if (value == nullptr)
        return std::string("Invalid value for ") + key + ".";
    if (!use(*value))
        return std::string(callFailure);
    return std::nullopt;
}

using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;

Bio memoryOf(const void* data, size_t length)
{
    return Bio(length <= INT32_MAX ? BIO_new_mem_buf(data, int(length)) : nullptr, &BIO_free);
}

bool useCertificates(SSL* ssl, const std::vector<std::string>& pems)
{
    const auto identity = NetSocketTLSIdentities::shared().parse(pems);
    if (!identity || SSL_use_certificate(ssl, identity->certificate) != 1 ||
        SSL_use_PrivateKey(ssl, identity->key) != 1 || SSL_check_private_key(ssl) != 1)
        return false;
    for (X509* link : identity->chain) {
        if (SSL_add1_chain_cert(ssl, link) != 1)
            return false;
    }
    return true;
}

bool useVersion(SSL* ssl, long long version, bool minimum)
{
    if (version == 0)
        return true;
    if (version < 0 || version > 0xFFFF)
        return false;
    return (minimum ? SSL_set_min_proto_version(ssl, int(version)) : SSL_set_max_proto_version(ssl, int(version))) == 1;
}

// IANA numbers become OpenSSL's names: TLS 1.3 suites and the older ones are set apart.
bool useCipherSuites(SSL* ssl, const std::vector<long long>& numbers)
{
    std::string older;
    std::string tls13;
    for (const long long number : numbers) {
        if (number < 0 || number > 0xFFFF)
            return false;
        const unsigned char wire[2] = {uint8_t(number >> 8), uint8_t(number)};
        const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, wire);
        if (cipher == nullptr)
            return false;
        std::string& list = (number >> 8) == 0x13 ? tls13 : older;
        list += (list.empty() ? "" : ":") + std::string(SSL_CIPHER_get_name(cipher));
    }
    if (SSL_set_ciphersuites(ssl, tls13.c_str()) != 1)
        return false;
    // A protocol left without a suite is not offered, or the peer could choose it and fail.
    if (tls13.empty()) {
        const long maximum = SSL_get_max_proto_version(ssl);
        if ((maximum == 0 || maximum > TLS1_2_VERSION) && SSL_set_max_proto_version(ssl, TLS1_2_VERSION) != 1)
            return false;
    }
    if (older.empty())
        return SSL_get_min_proto_version(ssl) >= TLS1_3_VERSION || SSL_set_min_proto_version(ssl, TLS1_3_VERSION) == 1;
    return SSL_set_cipher_list(ssl, older.c_str()) == 1;
}

bool useDiffieHellman(SSL* ssl, const std::vector<uint8_t>& parameters)
{
    Bio bio = memoryOf(parameters.data(), parameters.size());
    if (!bio)
        return false;
    EVP_PKEY* key = PEM_read_bio_Parameters(bio.get(), nullptr);
    if (key == nullptr) {
        const unsigned char* der = parameters.data();
        key = d2i_KeyParams(EVP_PKEY_DH, nullptr, &der, long(parameters.size()));
    }
    if (key == nullptr)
        return false;
    if (SSL_set0_tmp_dh_pkey(ssl, key) != 1) {
        EVP_PKEY_free(key);
        return false;
    }
    return true;
}

bool validALPN(const std::vector<std::string>& protocols)
{
    for (const std::string& protocol : protocols) {
        if (protocol.empty() || protocol.size() > 255)
            return false;
    }
    return true;
}

} // namespace

namespace NetSocketTLSConfigurator {

Failure apply(const Settings& settings, NetSocketTLSSession& session)
{
    SSL* ssl = session.ssl();
    bool present = false;
    if (settings.has(Settings::kIsServer) && !settings.get<bool>(Settings::kIsServer, &present))
        return "Invalid value for kCFStreamSSLIsServer.";
    const bool* manual = settings.get<bool>(Settings::kManuallyEvaluateTrust, &present);
    if (present && manual == nullptr)
        return "Invalid value for NetSocketManuallyEvaluateTrust.";
    if (manual != nullptr && *manual) {
        if (session.isServer())
            return "Manual trust validation is not supported for server sockets";
        session.evaluateTrustManually();
    }

    // Each step runs only when every one before it succeeded.
    const std::function<Failure()> steps[] = {
        [&] {
            return applyKey<std::string>(settings, Settings::kPeerName, "Error in SSLSetPeerDomainName",
                [ssl](const std::string& name) {
                    return name.empty() ||
                        (SSL_set_tlsext_host_name(ssl, name.c_str()) == 1 && SSL_set1_host(ssl, name.c_str()) == 1);
                });
        },
        [&] {
            return applyKey<std::vector<std::string>>(settings, Settings::kCertificates, "Error in SSLSetCertificate",
                [ssl](const std::vector<std::string>& pems) { return useCertificates(ssl, pems); });
        },
        [&] {
            return applyKey<std::vector<uint8_t>>(
                settings, Settings::kPeerID, "Error in SSLSetPeerID", [&session](const std::vector<uint8_t>& peerID) {
                    session.setPeerID(peerID);
                    return true;
                });
        },
        [&] {
            return applyKey<long long>(settings, Settings::kProtocolVersionMin, "Error in SSLSetProtocolVersionMin",
                [ssl](long long version) { return useVersion(ssl, version, true); });
        },
        [&] {
            return applyKey<long long>(settings, Settings::kProtocolVersionMax, "Error in SSLSetProtocolVersionMax",
                [ssl](long long version) { return useVersion(ssl, version, false); });
        },
        [&] {
            return applyKey<bool>(settings, Settings::kFalseStart,
                "Error in SSLSetSessionOption (kSSLSessionOptionFalseStart)", [](bool) { return true; });
        },
        [&] {
            return applyKey<bool>(settings, Settings::kSendOneByteRecord,
                "Error in SSLSetSessionOption (kSSLSessionOptionSendOneByteRecord)", [](bool) { return true; });
        },
        [&] {
            return applyKey<std::vector<long long>>(settings, Settings::kCipherSuites, "Error in SSLSetEnabledCiphers",
                [ssl](const std::vector<long long>& suites) { return useCipherSuites(ssl, suites); });
        },
        [&] {
            return applyKey<std::vector<uint8_t>>(settings, Settings::kDiffieHellmanParameters,
                "Error in SSLSetDiffieHellmanParams",
                [ssl](const std::vector<uint8_t>& parameters) { return useDiffieHellman(ssl, parameters); });
        },
        [&] {
            return applyKey<std::vector<std::string>>(
                settings, Settings::kALPN, "Error in SSLSetALPNProtocols", [&session](const auto& protocols) {
                    return validALPN(protocols) && session.setALPN(protocols);
                });
        },
    };
    for (const auto& step : steps) {
        if (Failure failure = step())
            return failure;
    }
    for (const char* key : Settings::kForbidden) {
        if (settings.has(key))
            return std::string("Security option unavailable - ") + key;
    }
    return std::nullopt;
}

} // namespace NetSocketTLSConfigurator

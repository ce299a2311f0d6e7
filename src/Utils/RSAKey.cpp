#include "Utils/RSAKey.h"

#include "Utils/Log.h"
#include "Utils/OpenSSLError.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <climits>
#include <initializer_list>

namespace {

using DecodeFn = EVP_PKEY* (*)(const unsigned char** in, long length);

EVP_PKEY* decodePkcs1(const unsigned char** in, long length)
{
    return d2i_PublicKey(EVP_PKEY_RSA, nullptr, in, length);
}

EVP_PKEY* decodeSubjectPublicKeyInfo(const unsigned char** in, long length)
{
    return d2i_PUBKEY(nullptr, in, length);
}

// The key that fills the whole of data in one of the given forms, tried in order.
std::optional<RSAKey> decodeWhole(std::span<const uint8_t> data, std::initializer_list<DecodeFn> forms)
{
    if (data.empty() || data.size() > static_cast<size_t>(LONG_MAX))
        return std::nullopt;
    for (const DecodeFn decode : forms) {
        const unsigned char* cursor = data.data();
        EVP_PKEY* key = decode(&cursor, static_cast<long>(data.size()));
        if (!key)
            continue;
        RSAKey owned(key);
        if (cursor == data.data() + data.size()) {
            // Forms tried before may have queued errors that belong to nobody.
            ERR_clear_error();
            return owned;
        }
    }
    return std::nullopt;
}

} // namespace

RSAKey::RSAKey(EVP_PKEY* key) : key_(key, EVP_PKEY_free) {}

std::optional<RSAKey> RSAKey::importPublicKey(std::span<const uint8_t> keyData)
{
    auto key = decodeWhole(keyData, {decodePkcs1, decodeSubjectPublicKeyInfo});
    if (!key) {
        PLOG("public key refused: %zu bytes are no RSA public key (%s)", keyData.size(), OpenSSLError::drain().c_str());
        return std::nullopt;
    }
    // The second form takes any key type; only plain RSA can carry the session key.
    if (!EVP_PKEY_is_a(key->get(), "RSA")) {
        PLOG("public key refused: not an RSA key");
        return std::nullopt;
    }
    if (key->bits() != kTvKeyBits) {
        PLOG("public key refused: %d bits, not %d", key->bits(), kTvKeyBits);
        return std::nullopt;
    }
    return key;
}

std::optional<RSAKey> RSAKey::publicKey() const
{
    const auto der = exportPublicKey();
    if (!der)
        return std::nullopt;
    auto key = decodeWhole(*der, {decodePkcs1});
    if (!key)
        PLOG("rsa public key copy error: %s", OpenSSLError::drain().c_str());
    return key;
}

std::optional<std::vector<uint8_t>> RSAKey::exportPublicKey() const
{
    if (!get())
        return std::nullopt;
    const int length = i2d_PublicKey(get(), nullptr);
    if (length <= 0) {
        PLOG("rsa public key export error: %s", OpenSSLError::drain().c_str());
        return std::nullopt;
    }
    std::vector<uint8_t> der(static_cast<size_t>(length));
    unsigned char* cursor = der.data();
    if (i2d_PublicKey(get(), &cursor) != length) {
        PLOG("rsa public key export error: %s", OpenSSLError::drain().c_str());
        return std::nullopt;
    }
    return der;
}

int RSAKey::bits() const
{
    return EVP_PKEY_get_bits(get());
}

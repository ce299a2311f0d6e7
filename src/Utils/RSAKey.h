#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

// An RSA key (public only, or a full key pair) shared by every copy; the key itself is never
// changed after it is made, so copies may be used from several threads at once.
class RSAKey {
public:
    // The size the TV's public key has to have.
    static constexpr int kTvKeyBits = 2048;

    // Takes ownership of key (one reference). With a null key every operation fails.
    explicit RSAKey(EVP_PKEY* key);

    // The TV's public key from its key data: PKCS#1 RSAPublicKey DER, or SubjectPublicKeyInfo DER.
    // Anything else, a key that is not RSA, one that is not kTvKeyBits long or data with bytes
    // after the key gives nullopt and a log line.
    static std::optional<RSAKey> importPublicKey(std::span<const uint8_t> keyData);

    // The public half alone, so handing it on never hands on the private key.
    std::optional<RSAKey> publicKey() const;
    // The public key as PKCS#1 RSAPublicKey DER (the form importPublicKey takes first).
    std::optional<std::vector<uint8_t>> exportPublicKey() const;

    int bits() const;
    EVP_PKEY* get() const { return key_.get(); }

private:
    std::shared_ptr<EVP_PKEY> key_;
};

struct RSAKeyPair {
    RSAKey publicKey;
    RSAKey privateKey;
};

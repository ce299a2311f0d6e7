#include "Utils/NSDataAES.h"

#include "Utils/AESCtrStream.h"
#include "Utils/Log.h"
#include "Utils/OpenSSLError.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>

namespace {

struct PkeyContextFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextFree>;

std::optional<std::vector<uint8_t>> aesCtr(std::span<const uint8_t> data, std::span<const uint8_t> key,
                                           std::span<const uint8_t> iv)
{
    auto stream = AESCtrStream::create(key, iv);
    if (!stream)
        return std::nullopt;
    std::vector<uint8_t> out(data.size());
    if (!stream->update(data, out) || !stream->finish())
        return std::nullopt;
    return out;
}

using PkeyInit = int (*)(EVP_PKEY_CTX*);
using PkeyOperation = int (*)(EVP_PKEY_CTX*, unsigned char*, size_t*, const unsigned char*, size_t);

// One PKCS#1 v1.5 encryption or decryption; a failure is logged as "<errorLabel>: <OpenSSL's text>".
std::optional<std::vector<uint8_t>> rsaPkcs1(std::span<const uint8_t> data, const RSAKey& key, PkeyInit init,
                                             PkeyOperation operation, const char* errorLabel)
{
    PkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    size_t length = 0;
    if (context && init(context.get()) == 1 && EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
        operation(context.get(), nullptr, &length, data.data(), data.size()) == 1) {
        std::vector<uint8_t> out(length);
        if (operation(context.get(), out.data(), &length, data.data(), data.size()) == 1 && length <= out.size()) {
            out.resize(length);
            return out;
        }
    }
    PLOG("%s: %s", errorLabel, OpenSSLError::drain().c_str());
    return std::nullopt;
}

} // namespace

std::optional<std::vector<uint8_t>> NSDataAES::AESEncryptWithKey(std::span<const uint8_t> data,
                                                                 std::span<const uint8_t> key,
                                                                 std::span<const uint8_t> iv)
{
    return aesCtr(data, key, iv);
}

std::optional<std::vector<uint8_t>> NSDataAES::AESDecryptWithKey(std::span<const uint8_t> data,
                                                                 std::span<const uint8_t> key,
                                                                 std::span<const uint8_t> iv)
{
    return aesCtr(data, key, iv);
}

std::optional<std::vector<uint8_t>> NSDataAES::RSAEncryptWithPublicKey(std::span<const uint8_t> data,
                                                                       const RSAKey& publicKey)
{
    return rsaPkcs1(data, publicKey, EVP_PKEY_encrypt_init, EVP_PKEY_encrypt, "ras encryption error");
}

std::optional<std::vector<uint8_t>> NSDataAES::RSADecryptWithPrivateKey(std::span<const uint8_t> data,
                                                                        const RSAKey& privateKey)
{
    return rsaPkcs1(data, privateKey, EVP_PKEY_decrypt_init, EVP_PKEY_decrypt, "rsa decryption error");
}

std::optional<RSAKeyPair> NSDataAES::genRSAKeyPairWithKeySize(int bits)
{
    if (bits <= 0) {
        PLOG("rsa key generation refused: %d bits", bits);
        return std::nullopt;
    }
    PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* generated = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), bits) != 1 ||
        EVP_PKEY_generate(context.get(), &generated) != 1) {
        PLOG("rsa key generation error (%d bits): %s", bits, OpenSSLError::drain().c_str());
        return std::nullopt;
    }
    RSAKey privateKey(generated);
    auto publicKey = privateKey.publicKey();
    if (!publicKey)
        return std::nullopt;
    return RSAKeyPair{*publicKey, privateKey};
}

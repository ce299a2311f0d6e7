#include "tv-sim/PayloadDigest.h"

#include <openssl/evp.h>

void PayloadDigest::Free::operator()(evp_md_ctx_st* context) const
{
    EVP_MD_CTX_free(context);
}

PayloadDigest::PayloadDigest() : context_(EVP_MD_CTX_new())
{
    failed_ = !context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1;
}

PayloadDigest::~PayloadDigest() = default;

void PayloadDigest::update(std::span<const uint8_t> bytes)
{
    failed_ = failed_ || EVP_DigestUpdate(context_.get(), bytes.data(), bytes.size()) != 1;
}

std::string PayloadDigest::finishHex()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (failed_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1)
        return {};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0xF];
    }
    return hex;
}

std::string PayloadDigest::sha256Hex(std::span<const uint8_t> bytes)
{
    PayloadDigest digest;
    digest.update(bytes);
    return digest.finishHex();
}

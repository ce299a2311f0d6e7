#include "Utils/AESCtrStream.h"

#include "Utils/Log.h"
#include "Utils/OpenSSLError.h"

#include <openssl/evp.h>

#include <algorithm>

namespace {

// The cipher is fed in slices of this size, which also keeps every length within OpenSSL's int.
constexpr size_t kSliceLength = 4096;

} // namespace

void AESCtrStream::ContextFree::operator()(EVP_CIPHER_CTX* context) const
{
    EVP_CIPHER_CTX_free(context);
}

std::optional<AESCtrStream> AESCtrStream::create(std::span<const uint8_t> key, std::span<const uint8_t> iv)
{
    if (key.size() != kKeyLength || iv.size() != kIvLength) {
        PLOG("aes refused: key of %zu bytes (need %zu), iv of %zu bytes (need %zu)", key.size(), kKeyLength,
             iv.size(), kIvLength);
        return std::nullopt;
    }
    AESCtrStream stream(EVP_CIPHER_CTX_new());
    if (!stream.context_ ||
        EVP_EncryptInit_ex2(stream.context_.get(), EVP_aes_256_ctr(), key.data(), iv.data(), nullptr) != 1) {
        PLOG("aes init error: %s", OpenSSLError::drain().c_str());
        return std::nullopt;
    }
    return stream;
}

bool AESCtrStream::update(std::span<const uint8_t> in, std::span<uint8_t> out)
{
    if (!usable() || out.size() < in.size()) {
        PLOG("aes update refused: %s", usable() ? "output too short" : "stream not usable");
        return false;
    }
    for (size_t done = 0; done < in.size();) {
        const int slice = static_cast<int>(std::min(kSliceLength, in.size() - done));
        int written = 0;
        if (EVP_EncryptUpdate(context_.get(), out.data() + done, &written, in.data() + done, slice) != 1 ||
            written != slice) {
            PLOG("aes update error: %s", OpenSSLError::drain().c_str());
            failed_ = true;
            return false;
        }
        done += static_cast<size_t>(slice);
    }
    return true;
}

bool AESCtrStream::finish()
{
    // CTR keeps no partial block back, so the final call must not write: room for a block is only a guard.
    uint8_t spare[16];
    int written = 0;
    if (!usable()) {
        PLOG("aes final refused: stream not usable");
        return false;
    }
    if (EVP_EncryptFinal_ex(context_.get(), spare, &written) != 1 || written != 0) {
        PLOG("aes final error: %s", OpenSSLError::drain().c_str());
        failed_ = true;
        return false;
    }
    return true;
}

#pragma once

#include <openssl/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

// AES-256-CTR over a byte stream that arrives in pieces of any size: the concatenated outputs equal
// the one-shot transformation of the concatenated inputs. Encryption and decryption are the same
// operation. The counter is the 16-byte IV, incremented as one big-endian 128-bit number per block.
class AESCtrStream {
public:
    static constexpr size_t kKeyLength = 32;
    static constexpr size_t kIvLength = 16;

    // nullopt (with a log line) for a key that is not kKeyLength bytes, an IV that is not
    // kIvLength bytes, or a cipher context that cannot be set up.
    static std::optional<AESCtrStream> create(std::span<const uint8_t> key, std::span<const uint8_t> iv);

    // Transforms in into the first in.size() bytes of out, which may be in itself but must not
    // overlap it otherwise. False when out is too short (nothing is consumed) or the cipher fails
    // (the stream is unusable from then on).
    bool update(std::span<const uint8_t> in, std::span<uint8_t> out);
    // Ends the stream (CTR has nothing left over); false when the cipher reports a failure.
    bool finish();

private:
    struct ContextFree {
        void operator()(EVP_CIPHER_CTX* context) const;
    };

    explicit AESCtrStream(EVP_CIPHER_CTX* context) : context_(context) {}
    // False after a failure, and in a stream that was moved from.
    bool usable() const { return context_ && !failed_; }

    std::unique_ptr<EVP_CIPHER_CTX, ContextFree> context_;
    bool failed_ = false;
};

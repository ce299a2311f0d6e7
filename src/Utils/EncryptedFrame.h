#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The protected form of a video frame or shared file: a fresh random 16-byte IV followed by the
// AES-256-CTR ciphertext of the whole plaintext under the 32-byte session key and that IV.
// Callers hold their own reference to the session key for the duration of a call.
class EncryptedFrame {
public:
    static constexpr size_t kIvLength = 16;

    // nullopt when the key is not 32 bytes or the random source fails (a frame never goes out
    // under a fixed IV).
    static std::optional<std::vector<uint8_t>> protect(std::span<const uint8_t> plaintext, std::span<const uint8_t> key);
    // The plaintext of a frame; nullopt when the frame is shorter than its IV or the key is not 32 bytes.
    static std::optional<std::vector<uint8_t>> open(std::span<const uint8_t> frame, std::span<const uint8_t> key);
};

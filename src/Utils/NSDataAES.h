#pragma once

#include "Utils/RSAKey.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

// The system's crypto operations on byte buffers ("NSData(AES)"): AES-256-CTR for frames and
// shared files, RSA PKCS#1 v1.5 encryption for wrapping the session key. Stateless and safe from
// any thread; every failure is logged and gives nullopt.
class NSDataAES {
public:
    // AES-256-CTR under a 32-byte key and a 16-byte IV (the initial counter block); the result has
    // the data's length (empty data gives empty data).
    static std::optional<std::vector<uint8_t>> AESEncryptWithKey(std::span<const uint8_t> data,
                                                                 std::span<const uint8_t> key,
                                                                 std::span<const uint8_t> iv);
    // The same operation: CTR decrypts by encrypting again.
    static std::optional<std::vector<uint8_t>> AESDecryptWithKey(std::span<const uint8_t> data,
                                                                 std::span<const uint8_t> key,
                                                                 std::span<const uint8_t> iv);

    // RSA with PKCS#1 v1.5 encryption padding; data may be at most the key's size in bytes - 11.
    static std::optional<std::vector<uint8_t>> RSAEncryptWithPublicKey(std::span<const uint8_t> data,
                                                                       const RSAKey& publicKey);
    static std::optional<std::vector<uint8_t>> RSADecryptWithPrivateKey(std::span<const uint8_t> data,
                                                                        const RSAKey& privateKey);

    // A new RSA key pair of the given size in bits.
    static std::optional<RSAKeyPair> genRSAKeyPairWithKeySize(int bits);
};

#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

struct evp_md_ctx_st;

// Digests by which reports and tests recognise payloads and files without keeping them: SHA-256 of
// bytes given at once or in pieces.
class PayloadDigest {
public:
    PayloadDigest();
    ~PayloadDigest();
    PayloadDigest(const PayloadDigest&) = delete;
    PayloadDigest& operator=(const PayloadDigest&) = delete;

    void update(std::span<const uint8_t> bytes);
    // Lower-case hex SHA-256 (64 characters) of everything updated; empty when the digest failed.
    std::string finishHex();

    static std::string sha256Hex(std::span<const uint8_t> bytes);

private:
    struct Free {
        void operator()(evp_md_ctx_st* context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> context_;
    bool failed_ = false;
};

#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct x509_st;
struct evp_pkey_st;

// Certificates and keys parsed from PEM texts, kept for the process: OpenSSL takes longer to parse
// a key than to run a handshake, and a server presents the same identity to every client.
class NetSocketTLSIdentities {
public:
    struct Identity {
        ~Identity();
        x509_st* certificate = nullptr;
        evp_pkey_st* key = nullptr;
        std::vector<x509_st*> chain;
    };

    static NetSocketTLSIdentities& shared();

    // The first text holds the certificate and its key, the others the chain; null when any fails.
    std::shared_ptr<const Identity> parse(const std::vector<std::string>& pems);

private:
    NetSocketTLSIdentities() = default;

    static constexpr size_t kCapacity = 16;

    std::mutex mutex_;
    std::map<std::vector<std::string>, std::shared_ptr<const Identity>> identities_;
};

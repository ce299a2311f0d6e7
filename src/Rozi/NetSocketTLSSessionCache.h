#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

struct ssl_session_st;

// Client sessions kept by peer ID, so a later connection to the same peer resumes its session.
// Shared by every socket of the process; bounded, dropping the oldest entry when full.
class NetSocketTLSSessionCache {
public:
    static NetSocketTLSSessionCache& shared();

    // Keeps a reference of its own to the session.
    void store(const std::vector<uint8_t>& peerID, ssl_session_st* session);
    // A new reference to the session of the peer ID, or null; the caller frees it.
    ssl_session_st* find(const std::vector<uint8_t>& peerID);

private:
    NetSocketTLSSessionCache() = default;

    static constexpr size_t kCapacity = 256;

    std::mutex mutex_;
    std::map<std::vector<uint8_t>, std::pair<uint64_t, ssl_session_st*>> sessions_;
    uint64_t age_ = 0;
};

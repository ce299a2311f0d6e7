#include "Rozi/NetSocketTLSSessionCache.h"

#include <openssl/ssl.h>

#include <algorithm>

NetSocketTLSSessionCache& NetSocketTLSSessionCache::shared()
{
    // Never destroyed: sockets closing on dispatch threads during exit may still store sessions.
    static NetSocketTLSSessionCache* const cache = new NetSocketTLSSessionCache;
    return *cache;
}

void NetSocketTLSSessionCache::store(const std::vector<uint8_t>& peerID, ssl_session_st* session)
{
    SSL_SESSION_up_ref(session);
    const std::lock_guard lock(mutex_);
    auto found = sessions_.find(peerID);
    if (found != sessions_.end()) {
        SSL_SESSION_free(found->second.second);
        found->second = {++age_, session};
        return;
    }
    if (sessions_.size() >= kCapacity) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(),
            [](const auto& a, const auto& b) { return a.second.first < b.second.first; });
        SSL_SESSION_free(oldest->second.second);
        sessions_.erase(oldest);
    }
    sessions_.emplace(peerID, std::make_pair(++age_, session));
}

ssl_session_st* NetSocketTLSSessionCache::find(const std::vector<uint8_t>& peerID)
{
    const std::lock_guard lock(mutex_);
    const auto found = sessions_.find(peerID);
    if (found == sessions_.end())
        return nullptr;
    SSL_SESSION_up_ref(found->second.second);
    return found->second.second;
}

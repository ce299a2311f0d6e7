#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// The session key: an immutable value shared by reference. It is replaced on the receive thread
// (key exchange) and the main thread (cleared at disconnect) while the encoder and the file server
// read it; a reader keeps its own reference for as long as it uses the key, so a replacement never
// frees a key in use.
using SessionKey = std::shared_ptr<const std::vector<uint8_t>>;

class SessionKeyHolder {
public:
    // The current key, null when none. Any thread.
    SessionKey load() const;
    // Any thread; null clears the key.
    void store(SessionKey key);

private:
    mutable std::mutex mutex_;
    SessionKey key_;
};

#pragma once

#include "Utils/SessionKey.h"

#include <mutex>

// The link's current session key, replaced while the encoder and the file server read it.
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

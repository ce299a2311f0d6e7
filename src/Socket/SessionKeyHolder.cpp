#include "Socket/SessionKeyHolder.h"

#include <utility>

SessionKey SessionKeyHolder::load() const
{
    std::lock_guard lock(mutex_);
    return key_;
}

void SessionKeyHolder::store(SessionKey key)
{
    SessionKey old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(key_, std::move(key));
    }
    // The old key, if this was its last reference, is freed outside the lock.
}

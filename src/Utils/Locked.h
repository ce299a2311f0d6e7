#pragma once

#include <mutex>
#include <utility>

// The one shape of a thread-safe property: a copy of the value read, or the value replaced, while its
// mutex is held.
template <class Mutex, class T>
T lockedRead(Mutex& mutex, const T& value)
{
    std::lock_guard lock(mutex);
    return value;
}

template <class Mutex, class T, class U>
void lockedWrite(Mutex& mutex, T& field, U&& value)
{
    std::lock_guard lock(mutex);
    field = std::forward<U>(value);
}

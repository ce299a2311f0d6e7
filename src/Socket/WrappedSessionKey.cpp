#include "Socket/WrappedSessionKey.h"

std::vector<uint8_t> WrappedSessionKey::encode() const
{
    return wrapped;
}

WrappedSessionKey WrappedSessionKey::decode(std::span<const uint8_t> payload)
{
    return {{payload.begin(), payload.end()}};
}

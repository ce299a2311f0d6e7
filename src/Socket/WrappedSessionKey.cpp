#include "Socket/WrappedSessionKey.h"

std::vector<uint8_t> WrappedSessionKey::encode() const
{
    return wrapped;
}

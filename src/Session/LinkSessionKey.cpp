#include "Session/LinkSessionKey.h"

#include "Socket/TCPManager.h"

LinkSessionKey::LinkSessionKey(TCPManager& manager) : manager_(manager) {}

SessionKey LinkSessionKey::sessionKey() const
{
    return manager_.aesKey();
}

#pragma once

#include "Media/EncoderH264/SessionKeyProvider.h"

class TCPManager;

// The capture's session key: the bound link's current key, read afresh for each frame, so a key
// agreed or cleared during a cast applies from the next frame on.
class LinkSessionKey final : public SessionKeyProvider {
public:
    // manager outlives this object.
    explicit LinkSessionKey(TCPManager& manager);

    SessionKey sessionKey() const override;

private:
    TCPManager& manager_;
};

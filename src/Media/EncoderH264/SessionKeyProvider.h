#pragma once

#include "Utils/SessionKey.h"

// Gives the capture the key that protects each encoded frame: the link's current session key.
// Called on the capture queue once per frame; the caller holds the returned reference for the frame.
class SessionKeyProvider {
public:
    virtual ~SessionKeyProvider() = default;
    // Null when frames go out in clear.
    virtual SessionKey sessionKey() const = 0;
};

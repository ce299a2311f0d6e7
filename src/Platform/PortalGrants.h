#pragma once

#include "Platform/PortalScreenCast.h"

// What a Wayland session lets this application do, and the desktop's question for what it does not
// yet: screen capture needs none on a wlroots desktop (screen copy) and a granted screen share (a
// restore token kept) elsewhere; input posting needs none where the compositor has virtual devices
// and a granted remote-control session elsewhere. Asking blocks the caller until the user answered.
class PortalGrants {
public:
    enum class Grant {
        kScreen,
        kInput,
    };

    explicit PortalGrants(PortalTokens tokens = PortalTokens::settings());

    bool granted(Grant grant) const;
    // Asks through the portal (a session started once and closed, its token kept); whether granted.
    bool ask(Grant grant) const;

private:
    PortalTokens tokens_;
};

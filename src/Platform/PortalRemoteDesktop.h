#pragma once

#include "Platform/DesktopPortal.h"
#include "Utils/Rect.h"
#include "Platform/PortalScreenCast.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// Pointer and keyboard input through the desktop portal's remote-desktop session: the user agrees
// once (a restore token in the settings spares the question later), and the pointer moves in the
// coordinates of the session's screen stream. One thread at a time.
class PortalRemoteDesktop {
public:
    // A started session; null (logged) without a portal, when the user refused, or when the portal
    // gives no pointer and keyboard. `screen` is the display the posted points are given in, mapped
    // onto the session's stream. Waits for the user's answer, or until `cancelled` is set.
    static std::unique_ptr<PortalRemoteDesktop> start(Rect screen, PortalTokens tokens = PortalTokens::settings(),
                                                      std::shared_ptr<const std::atomic<bool>> cancelled = {});
    ~PortalRemoteDesktop();
    PortalRemoteDesktop(const PortalRemoteDesktop&) = delete;
    PortalRemoteDesktop& operator=(const PortalRemoteDesktop&) = delete;

    bool moveTo(double x, double y);
    // Codes of linux/input-event-codes.h.
    bool button(int32_t code, bool pressed);
    bool key(int32_t evdevCode, bool pressed);

private:
    PortalRemoteDesktop(std::unique_ptr<DesktopPortal> portal, std::string session, DesktopPortal::Stream stream,
                        Rect screen);

    std::unique_ptr<DesktopPortal> portal_;
    const std::string session_;
    const DesktopPortal::Stream stream_;
    const Rect screen_;
};

#include "Platform/PortalGrants.h"

#include "Platform/PortalRemoteDesktop.h"
#include "Platform/WaylandCapture.h"
#include "Platform/WlrVirtualInput.h"
#include "Utils/Log.h"

PortalGrants::PortalGrants(PortalTokens tokens) : tokens_(std::move(tokens)) {}

bool PortalGrants::granted(Grant grant) const
{
    const auto stored = [this](const std::string& key) { return tokens_.load && !tokens_.load(key).empty(); };
    if (grant == Grant::kInput)
        return WlrVirtualInput::open() != nullptr || stored(PortalTokens::kRemoteDesktopKey);
    switch (WaylandCapture::monitorRoad()) {
    case WaylandCapture::Road::kScreencopy:
        return true;
    case WaylandCapture::Road::kPortal:
        return stored(PortalTokens::screenCastKey(CaptureRequest::Kind::kMonitor));
    case WaylandCapture::Road::kNone:
        break;
    }
    return false;
}

bool PortalGrants::ask(Grant grant) const
{
    if (grant == Grant::kInput) {
        const auto display = WaylandCapture::mainDisplay();
        return display && PortalRemoteDesktop::start(display->frame, tokens_) != nullptr;
    }
    // A share started once: the user's answer, and its token kept for the casts to come.
    PortalScreenCast share(CaptureRequest{}, tokens_);
    BgraFrame frame;
    const bool shared = share.capture(frame) != CaptureSource::Result::kFailed;
    PLOG("screen share %s", shared ? "granted" : "not granted");
    return shared;
}

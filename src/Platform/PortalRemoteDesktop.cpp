#include "Platform/PortalRemoteDesktop.h"

#include "Utils/Log.h"

#include <algorithm>
#include <cmath>

std::unique_ptr<PortalRemoteDesktop> PortalRemoteDesktop::start(Rect screen, PortalTokens tokens,
                                                                std::shared_ptr<const std::atomic<bool>> cancelled)
{
    auto portal = DesktopPortal::connect();
    if (!portal || portal->version(DesktopPortal::Kind::kRemoteDesktop) == 0) {
        PLOG("no remote-desktop portal: the TV's input cannot be posted");
        return nullptr;
    }
    portal->cancelWhen(std::move(cancelled));
    constexpr uint32_t kDevices = DesktopPortal::kDeviceKeyboard | DesktopPortal::kDevicePointer;
    if ((portal->availableDeviceTypes() & kDevices) != kDevices) {
        PLOG("the remote-desktop portal offers no pointer and keyboard");
        return nullptr;
    }
    const std::string token = tokens.load ? tokens.load(PortalTokens::kRemoteDesktopKey) : std::string{};
    const auto session = portal->createSession(DesktopPortal::Kind::kRemoteDesktop);
    if (!session)
        return nullptr;
    DesktopPortal::Started started;
    DesktopPortal::Outcome outcome = portal->selectDevices(*session, kDevices, token);
    // A screen of the session: absolute pointer positions are given against its stream.
    if (outcome == DesktopPortal::Outcome::kGranted)
        outcome = portal->selectSources(*session, DesktopPortal::kSourceMonitor, 0, {}, false);
    if (outcome == DesktopPortal::Outcome::kGranted)
        outcome = portal->start(DesktopPortal::Kind::kRemoteDesktop, *session, started);
    if (outcome != DesktopPortal::Outcome::kGranted || (started.devices & kDevices) != kDevices
        || started.streams.empty()) {
        PLOG("remote control %s", outcome == DesktopPortal::Outcome::kDenied ? "refused by the user" : "not started");
        portal->closeSession(*session);
        return nullptr;
    }
    // A portal that keeps no remote-desktop grants gives no token: the next run asks again.
    if (tokens.save)
        tokens.save(PortalTokens::kRemoteDesktopKey, started.restoreToken);
    PLOG("remote control started (%s)", token.empty() ? "asked" : "restored");
    return std::unique_ptr<PortalRemoteDesktop>(
        new PortalRemoteDesktop(std::move(portal), *session, started.streams.front(), screen));
}

PortalRemoteDesktop::PortalRemoteDesktop(std::unique_ptr<DesktopPortal> portal, std::string session,
                                         DesktopPortal::Stream stream, Rect screen)
    : portal_(std::move(portal)), session_(std::move(session)), stream_(stream), screen_(screen)
{
}

PortalRemoteDesktop::~PortalRemoteDesktop()
{
    portal_->closeSession(session_);
}

bool PortalRemoteDesktop::moveTo(double x, double y)
{
    // The display's pixels onto the stream's, which may differ (a scaled output); kept inside it.
    const auto onto = [](double value, int origin, int extent, int streamExtent) {
        const double scaled = extent > 0 && streamExtent > 0 ? (value - origin) * streamExtent / extent : value - origin;
        return std::isfinite(scaled) ? std::clamp(scaled, 0.0, std::max(0.0, streamExtent - 1.0)) : 0.0;
    };
    const int streamWidth = stream_.width > 0 ? stream_.width : screen_.width;
    const int streamHeight = stream_.height > 0 ? stream_.height : screen_.height;
    return portal_->notifyPointerMotionAbsolute(session_, stream_.nodeId,
                                                onto(x, screen_.x, screen_.width, streamWidth),
                                                onto(y, screen_.y, screen_.height, streamHeight));
}

bool PortalRemoteDesktop::button(int32_t code, bool pressed)
{
    return portal_->notifyPointerButton(session_, code, pressed);
}

bool PortalRemoteDesktop::key(int32_t evdevCode, bool pressed)
{
    return portal_->notifyKeyboardKeycode(session_, evdevCode, pressed);
}

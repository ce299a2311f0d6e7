#include "Platform/WaylandCapture.h"

#include "Platform/DesktopPortal.h"
#include "Platform/PortalScreenCast.h"
#include "Platform/PortalVirtualDisplay.h"
#include "Platform/WaylandConnection.h"
#include "Platform/WlrScreencopySource.h"
#include "Utils/Log.h"

#include <cstdlib>
#include <cstring>

namespace {

std::string forcedRoad()
{
    const char* road = std::getenv("PELKOR_WAYLAND_CAPTURE");
    return road != nullptr ? road : "";
}

bool portalCanShare(uint32_t sourceType)
{
    const auto portal = DesktopPortal::connect();
    return portal && (portal->availableSourceTypes() & sourceType) != 0;
}

} // namespace

WaylandCapture::Road WaylandCapture::monitorRoad()
{
    const std::string forced = forcedRoad();
    if (forced == "portal")
        return Road::kPortal;
    if (forced == "screencopy")
        return Road::kScreencopy;
    if (portalCanShare(DesktopPortal::kSourceMonitor))
        return Road::kPortal;
    const auto connection = WaylandConnection::open();
    if (connection && connection->has("zwlr_screencopy_manager_v1"))
        return Road::kScreencopy;
    return Road::kNone;
}

CaptureSourceFactory WaylandCapture::factory()
{
    return [](const CaptureRequest& request) -> std::unique_ptr<CaptureSource> {
        // An extended screen that is the compositor's own output (sway's headless one) is copied as any output.
        if (request.kind == CaptureRequest::Kind::kVirtual && request.displayId != PortalVirtualDisplay::kId)
            return std::make_unique<WlrScreencopySource>(request.displayId);
        // One window, or the portal's virtual screen: only the portal can give them.
        if (request.kind != CaptureRequest::Kind::kMonitor)
            return std::make_unique<PortalScreenCast>(request);
        switch (monitorRoad()) {
        case Road::kPortal:
            return std::make_unique<PortalScreenCast>(request);
        case Road::kScreencopy:
            return std::make_unique<WlrScreencopySource>(request.displayId);
        case Road::kNone:
            break;
        }
        PLOG("this Wayland desktop offers no screen capture: no desktop portal and no screen copy");
        return nullptr;
    };
}

std::optional<WaylandCapture::Display> WaylandCapture::mainDisplay()
{
    const auto connection = WaylandConnection::open();
    if (!connection)
        return std::nullopt;
    const WaylandConnection::Output* output = connection->output(0);
    if (output == nullptr || output->frame.width <= 0 || output->frame.height <= 0)
        return std::nullopt;
    return Display{output->name, output->frame};
}

WaylandCapture::Offer WaylandCapture::offer()
{
    if (forcedRoad() == "screencopy")
        return {};
    const auto portal = DesktopPortal::connect();
    if (!portal)
        return {};
    const uint32_t types = portal->availableSourceTypes();
    return {(types & DesktopPortal::kSourceWindow) != 0, (types & DesktopPortal::kSourceVirtual) != 0};
}

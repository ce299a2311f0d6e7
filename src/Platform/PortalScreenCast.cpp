#include "Platform/PortalScreenCast.h"

#include "Platform/PipeWireCapture.h"
#include "Utils/Log.h"
#include "Utils/VXUserDefaultManager.h"

#include <mutex>

namespace {

constexpr const char* kWindowKey = "windowChoiceRestoreToken";

// The window's choice of this process; any thread.
std::mutex windowChoiceMutex;
std::string windowChoice;

} // namespace

PortalTokens PortalTokens::settings()
{
    return {[](const std::string& key) {
                if (key == kWindowKey) {
                    std::lock_guard lock(windowChoiceMutex);
                    return windowChoice;
                }
                const auto value = VXUserDefaultManager::sharedManager().objectForKey(key);
                return value && value->is_string() ? value->get<std::string>() : std::string{};
            },
            [](const std::string& key, const std::string& token) {
                if (key == kWindowKey) {
                    std::lock_guard lock(windowChoiceMutex);
                    windowChoice = token;
                } else if (token.empty()) {
                    VXUserDefaultManager::sharedManager().removeObjectForKey(key);
                } else {
                    VXUserDefaultManager::sharedManager().setObject(token, key);
                }
            }};
}

void PortalTokens::forgetWindowChoice()
{
    std::lock_guard lock(windowChoiceMutex);
    windowChoice.clear();
}

std::string PortalTokens::screenCastKey(CaptureRequest::Kind kind)
{
    switch (kind) {
    case CaptureRequest::Kind::kMonitor:
        return "screenCastRestoreToken";
    case CaptureRequest::Kind::kVirtual:
        return "virtualScreenRestoreToken";
    case CaptureRequest::Kind::kWindow:
        break;
    }
    return kWindowKey;
}

PortalScreenCast::PortalScreenCast(CaptureRequest request, PortalTokens tokens)
    : request_(std::move(request)), tokens_(std::move(tokens))
{
}

PortalScreenCast::~PortalScreenCast()
{
    // The stream goes before the session that feeds it.
    pipeWire_.reset();
    if (portal_ && !session_.empty())
        portal_->closeSession(session_);
}

uint32_t PortalScreenCast::sourceType() const
{
    switch (request_.kind) {
    case CaptureRequest::Kind::kWindow:
        return DesktopPortal::kSourceWindow;
    case CaptureRequest::Kind::kVirtual:
        return DesktopPortal::kSourceVirtual;
    case CaptureRequest::Kind::kMonitor:
        break;
    }
    return DesktopPortal::kSourceMonitor;
}

bool PortalScreenCast::begin()
{
    portal_ = DesktopPortal::connect();
    if (!portal_)
        return false;
    // The cast's stop ends a question the user has not answered yet.
    portal_->cancelWhen(request_.cancelled);
    if ((portal_->availableSourceTypes() & sourceType()) == 0) {
        PLOG("the desktop portal cannot share this kind of source (%u)", sourceType());
        return false;
    }
    // A cursor drawn into the picture keeps it free of copies; one sent apart is drawn by us.
    const uint32_t cursorModes = portal_->availableCursorModes();
    const uint32_t cursorMode = (cursorModes & DesktopPortal::kCursorEmbedded) != 0 ? DesktopPortal::kCursorEmbedded
        : (cursorModes & DesktopPortal::kCursorMetadata) != 0                      ? DesktopPortal::kCursorMetadata
                                                                                    : 0;
    const std::string key = PortalTokens::screenCastKey(request_.kind);
    const std::string token = tokens_.load ? tokens_.load(key) : std::string{};
    const auto session = portal_->createSession(DesktopPortal::Kind::kScreenCast);
    if (!session) {
        PLOG("the desktop portal made no screen-cast session");
        return false;
    }
    session_ = *session;
    DesktopPortal::Started started;
    DesktopPortal::Outcome outcome = portal_->selectSources(session_, sourceType(), cursorMode, token);
    if (outcome == DesktopPortal::Outcome::kGranted)
        outcome = portal_->start(DesktopPortal::Kind::kScreenCast, session_, started);
    if (outcome != DesktopPortal::Outcome::kGranted || started.streams.empty()) {
        PLOG("screen share %s", outcome == DesktopPortal::Outcome::kDenied ? "refused by the user" : "not started");
        return false;
    }
    // A new token replaces the one used: the portal lets each be used once.
    if (tokens_.save)
        tokens_.save(key, started.restoreToken);
    stream_ = started.streams.front();
    PLOG("screen share started: node %u, %dx%d, %s", stream_->nodeId, stream_->width, stream_->height,
         token.empty() ? "asked" : "restored");
    const int fd = portal_->openPipeWireRemote(session_);
    if (fd < 0)
        return false;
    pipeWire_ = PipeWireCapture::open(fd, stream_->nodeId);
    return pipeWire_ != nullptr;
}

CaptureSource::Result PortalScreenCast::capture(BgraFrame& frame)
{
    if (failed_)
        return Result::kFailed;
    if (!pipeWire_ && !begin()) {
        failed_ = true;
        return Result::kFailed;
    }
    switch (pipeWire_->latest(frame)) {
    case PipeWireCapture::Result::kFrame:
        return Result::kFrame;
    case PipeWireCapture::Result::kNoFrame:
        return Result::kNoFrame;
    case PipeWireCapture::Result::kEnded:
        break;
    }
    return Result::kLost;
}

#pragma once

#include "Platform/CaptureSource.h"
#include "Platform/DesktopPortal.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

class PipeWireCapture;

// Where the portal's restore tokens are kept: the settings file by default, so the question comes
// once. A window's choice is kept only in memory, until the user chooses again: a capture restarted
// within the cast (a new size) keeps the window without a question, the next choice asks.
struct PortalTokens {
    std::function<std::string(const std::string& key)> load;
    std::function<void(const std::string& key, const std::string& token)> save;

    // The user's settings (VXUserDefaultManager), and this process' memory for the window's choice.
    static PortalTokens settings();
    // The key of a screen cast of that kind.
    static std::string screenCastKey(CaptureRequest::Kind kind);
    // The user chooses a window anew: the next window cast asks which.
    static void forgetWindowChoice();
    static constexpr const char* kRemoteDesktopKey = "remoteDesktopRestoreToken";
};

// A cast's picture through the desktop portal: a screen-cast session of the kind asked (the user
// chooses the screen or window in the portal's own dialog, once where a restore token is kept), and
// its PipeWire stream. The session starts at the first capture, on the capture queue, and closes
// with the object.
class PortalScreenCast final : public CaptureSource {
public:
    PortalScreenCast(CaptureRequest request, PortalTokens tokens = PortalTokens::settings());
    ~PortalScreenCast() override;

    Result capture(BgraFrame& frame) override;

    // The portal's answer about this session once it started (its stream's size): for tests and
    // benchmarks.
    std::optional<DesktopPortal::Stream> stream() const { return stream_; }

private:
    // The session and its stream; false (logged) when there is none to be had.
    bool begin();
    uint32_t sourceType() const;

    const CaptureRequest request_;
    const PortalTokens tokens_;
    std::unique_ptr<DesktopPortal> portal_;
    std::string session_;
    std::optional<DesktopPortal::Stream> stream_;
    std::unique_ptr<PipeWireCapture> pipeWire_;
    bool failed_ = false;
};

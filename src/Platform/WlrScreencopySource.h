#pragma once

#include "Platform/CaptureSource.h"

#include <cstdint>
#include <memory>
#include <string>

class WlrScreencopyCapture;

// A cast's picture of one output through the compositor's screen copy (wlroots desktops), with the
// cursor drawn in by the compositor. The connection opens at the first capture, on the capture queue.
class WlrScreencopySource final : public CaptureSource {
public:
    // Output `outputName` as the compositor names it (0: the first); `socket` as WaylandConnection takes it.
    explicit WlrScreencopySource(uint32_t outputName, std::string socket = {});
    ~WlrScreencopySource() override;

    Result capture(BgraFrame& frame) override;

private:
    const uint32_t outputName_;
    const std::string socket_;
    std::unique_ptr<WlrScreencopyCapture> screencopy_;
    bool failed_ = false;
    bool fallbackLogged_ = false;
};

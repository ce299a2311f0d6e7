#pragma once

#include "Media/EncoderH264/CaptureFailureReport.h"

class TCPManager;

// A capture that can no longer read its source releases the bound link; the cast then ends the way
// every lost link ends, through onDisConnect. The report comes on the capture queue, and releasing
// joins the transport's threads, so the release is posted to the main queue and never waited for.
class LinkCaptureFailure final : public CaptureFailureReport {
public:
    // manager outlives the main queue's tasks (the process-wide manager lives for the whole run).
    explicit LinkCaptureFailure(TCPManager& manager);

    // Capture queue: posts the release and returns at once.
    void captureFailed() override;

private:
    TCPManager& manager_;
};

#pragma once

#include "Media/EncoderH264/ParameterSetRequest.h"

// The TV's request for the parameter sets, as the link records it in the process-wide
// gResendSpsPpsFlag (set on kMsgRequestSpsPps). One flag serves whichever link is up, so this binds
// no manager.
class ResendSpsPpsRequest final : public ParameterSetRequest {
public:
    // Any thread: true once per request, clearing the flag in the same step.
    bool consume() override;
};

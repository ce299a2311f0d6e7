#pragma once

// The receiver's standing request for the parameter sets (SPS and PPS) again, set by the link when the
// TV asks for them and consumed by the encoder that serves it. Any thread.
class ParameterSetRequest {
public:
    virtual ~ParameterSetRequest() = default;
    // True when a request is pending, and clears it in the same step, so a request arriving meanwhile
    // is either served now or kept for the next frame.
    virtual bool consume() = 0;
};

#pragma once

#include "Media/CompressedSample.h"

#include <memory>

// Receives the samples H264DecoderTool cuts from the TV's stream, on the thread that feeds the tool.
class H264DecoderOutputDelegate {
public:
    virtual ~H264DecoderOutputDelegate() = default;
    // The receiver may keep the sample as long as it likes; its bytes live with it.
    virtual void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) = 0;
};

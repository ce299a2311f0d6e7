#pragma once

#include "Media/EncoderTestSupport.h"

#include <cstdint>
#include <vector>

// count access units of a moving picture, as the sender's encoder makes them for a cast of
// width x height at 10 frames per second.
inline std::vector<std::vector<uint8_t>> encodedStream(int width, int height, int count)
{
    TzVideoEncoder encoder;
    AccessUnitSink sink;
    if (encoder.startEncodeSessionWithVideoSize(width, height, 10, width * height * 96) != 0)
        return {};
    MovingPattern pattern(TzVideoEncoder::Frame::Format::BGRA, width, height);
    for (int i = 0; i < count; ++i)
        encoder.encodeWithSampleBuffer(pattern.draw(i), 0, sink.block());
    encoder.stopEncodeSession();
    return sink.units();
}

// The TV's screen stream from end to end: arbitrary bytes as a run of packets (each behind a 2-byte
// big-endian length, cut at the end of the input) through the splitter, whose samples the display
// sink decodes on its worker, one packet at a time, as the TV-screen window takes them. Besides
// memory errors it checks that no picture past the sink's bounds is ever shown.
#include "Media/H264DecoderTool.h"
#include "Media/VideoDisplaySink.h"
#include "Utils/ByteReader.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <thread>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

class SinkDelegate : public H264DecoderOutputDelegate {
public:
    explicit SinkDelegate(VideoDisplaySink& sink) : sink_(sink) {}

    void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) override
    {
        // As the window does: a sample that finds no room is dropped.
        if (sink_.isReadyForMoreMediaData())
            sink_.enqueueSampleBuffer(sampleBuffer);
    }

private:
    VideoDisplaySink& sink_;
};

void waitUntilIdle(const VideoDisplaySink& sink)
{
    while (!sink.isIdle())
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    VideoDisplaySink sink([](std::shared_ptr<const BgraFrame> picture) {
        if (picture)
            require(picture->width <= VideoDisplaySink::kMaxPictureSide &&
                    picture->height <= VideoDisplaySink::kMaxPictureSide);
    });
    SinkDelegate delegate(sink);
    H264DecoderTool tool;
    tool.setDelegate(&delegate);
    ByteReader reader(std::span<const uint8_t>(data, size));
    while (reader.remaining() > 0) {
        const uint16_t length = reader.u16be();
        const auto bytes = reader.bytes(length);
        tool.readVideoInfo(std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end()));
        waitUntilIdle(sink);
    }
    return 0;
}

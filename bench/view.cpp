// Speed of the TV-screen window's display road at 1920 x 1080, 30 and 60 frames per second: the
// TV's stream (our encoder on a moving synthetic picture, encoded beforehand) is split into samples
// by H264DecoderTool and handed to VideoDisplaySink at the stream's own pace, as the link delivers
// it. Per frame: from the moment its packet is received (split and enqueued) to the moment its BGRA
// picture reaches the window's handler; the worker's CPU time per picture (decoding and conversion);
// pictures shown per second over the run.
//   bench-view [frames per run, default 300]
#include "SyntheticScreen.h"

#include "Media/EncoderH264/TzVideoEncoder.h"
#include "Media/H264DecoderTool.h"
#include "Media/VideoDisplaySink.h"

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

std::vector<Bytes> encodeStream(int fps, int frames)
{
    TzVideoEncoder encoder;
    std::vector<Bytes> packets;
    // The cast's own rate for this size: width x height x 96 bits per second, which the encoder caps.
    if (encoder.startEncodeSessionWithVideoSize(kWidth, kHeight, fps, kWidth * kHeight * 96) != 0)
        return packets;
    SyntheticScreen screen(kWidth, kHeight);
    for (int i = 0; i < frames; ++i)
        encoder.encodeWithSampleBuffer(TzVideoEncoder::Frame::bgra(screen.draw(i)), 0,
                                       [&](std::span<const uint8_t> unit) { packets.emplace_back(unit.begin(), unit.end()); });
    encoder.stopEncodeSession();
    return packets;
}

// Hands each sample to the sink at once, as the viewing road does.
class SinkFeeder : public H264DecoderOutputDelegate {
public:
    explicit SinkFeeder(VideoDisplaySink& sink) : sink_(sink) {}
    void didOutputVideoSampleBuffer(const std::shared_ptr<const CompressedSample>& sampleBuffer) override
    {
        if (sink_.status() != VideoDisplaySink::Status::Failed && sink_.isReadyForMoreMediaData())
            sink_.enqueueSampleBuffer(sampleBuffer);
    }

private:
    VideoDisplaySink& sink_;
};

double threadCpuSeconds(pthread_t thread)
{
    clockid_t clock{};
    timespec now{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &now) != 0)
        return 0;
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(fraction * double(values.size())))];
}

void run(int fps, int frames)
{
    const auto packets = encodeStream(fps, frames);
    std::mutex mutex;
    std::vector<Clock::time_point> received(packets.size());
    std::vector<double> latencies;
    std::atomic<pthread_t> worker{};
    std::atomic<size_t> shown{0};
    Clock::time_point lastShown;
    VideoDisplaySink sink([&](std::shared_ptr<const BgraFrame> picture) {
        if (!picture)
            return;
        worker = pthread_self();
        std::lock_guard lock(mutex);
        const size_t index = shown++;
        lastShown = Clock::now();
        // Pictures come in order; after a drop the pairing is off, which the report says.
        if (index < received.size())
            latencies.push_back(std::chrono::duration<double, std::milli>(lastShown - received[index]).count());
    });
    SinkFeeder feeder(sink);
    H264DecoderTool splitter;
    splitter.setDelegate(&feeder);

    const auto period = std::chrono::nanoseconds(1'000'000'000 / fps);
    const auto start = Clock::now();
    for (size_t i = 0; i < packets.size(); ++i) {
        std::this_thread::sleep_until(start + period * i);
        {
            std::lock_guard lock(mutex);
            received[i] = Clock::now();
        }
        splitter.readVideoInfo(std::make_shared<const Bytes>(packets[i]));
    }
    while (shown + sink.droppedSamples() < packets.size() && Clock::now() - start < period * packets.size() * 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));

    std::lock_guard lock(mutex);
    const double seconds = std::chrono::duration<double>(lastShown - start).count();
    const double cpu = worker.load() ? threadCpuSeconds(worker.load()) : 0;
    std::printf("1080p%d  %4zu/%zu shown  %6.1f fps  latency p50 %6.2f ms  p95 %6.2f ms  CPU %6.2f ms/frame%s\n", fps,
                shown.load(), packets.size(), seconds > 0 ? double(shown) / seconds : 0.0,
                percentile(latencies, 0.5), percentile(latencies, 0.95), shown > 0 ? cpu * 1000 / double(shown) : 0.0,
                shown == packets.size() ? "" : "  (pictures dropped: latencies not paired)");
}

} // namespace

int main(int argc, char** argv)
{
    const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    std::printf("%u cores; %d frames a run at %d x %d\n", std::thread::hardware_concurrency(), frames, kWidth,
                kHeight);
    for (const int fps : {30, 60})
        run(fps, frames);
    return 0;
}

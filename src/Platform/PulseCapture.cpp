#include "Platform/PulseCapture.h"

#include "Platform/DispatchPool.h"
#include "Utils/Log.h"

#include <pulse/error.h>
#include <pulse/simple.h>

namespace {

// About 23 ms a block: short enough that stopping never waits long for a read to return.
constexpr size_t kBlockFrames = 1024;
constexpr size_t kBlockBytes = kBlockFrames * PulseCapture::kChannels * sizeof(float);

}  // namespace

std::unique_ptr<PulseCapture> PulseCapture::start(const std::string& source, Consumer consumer)
{
    pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kSampleRate, kChannels};
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.fragsize = kBlockBytes;
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "PelkorAudioCapture", PA_STREAM_RECORD, source.c_str(),
                                      "sound capture", &format, nullptr, &attr, &error);
    if (!stream) {
        PLOG("cannot record %s: %s", source.c_str(), pa_strerror(error));
        return nullptr;
    }
    return std::unique_ptr<PulseCapture>(new PulseCapture(stream, std::move(consumer)));
}

PulseCapture::PulseCapture(pa_simple* stream, Consumer consumer)
    : stream_(stream), consumer_(std::move(consumer)), reader_([this] { readLoop(); })
{
}

PulseCapture::~PulseCapture()
{
    stopping_ = true;
    {
        const DispatchPool::BlockingScope blocking;
        reader_.join();
    }
    pa_simple_free(stream_);
}

void PulseCapture::readLoop()
{
    while (!stopping_) {
        std::vector<float> samples(kBlockFrames * kChannels);
        int error = 0;
        if (pa_simple_read(stream_, samples.data(), kBlockBytes, &error) < 0) {
            PLOG("sound capture read failed: %s", pa_strerror(error));
            return;
        }
        if (!stopping_)
            consumer_(std::move(samples));
    }
}

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

// Records one source of the sound server as interleaved 32-bit float samples on a reader thread
// of its own, handing each block read to the consumer on that thread.
class PulseCapture {
public:
    using Consumer = std::function<void(std::vector<float> samples)>;

    static constexpr unsigned kSampleRate = 44100;
    static constexpr unsigned kChannels = 2;

    // nullptr (and a log line) when the source cannot be recorded.
    static std::unique_ptr<PulseCapture> start(const std::string& source, Consumer consumer);
    // Stops reading; the consumer is not called once this returns.
    ~PulseCapture();
    PulseCapture(const PulseCapture&) = delete;
    PulseCapture& operator=(const PulseCapture&) = delete;

private:
    PulseCapture(pa_simple* stream, Consumer consumer);
    void readLoop();

    pa_simple* stream_;
    Consumer consumer_;
    std::atomic<bool> stopping_{false};
    std::thread reader_;
};

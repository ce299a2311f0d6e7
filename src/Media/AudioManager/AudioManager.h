#pragma once

#include "Media/EncoderH264/MediaDataCallback.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class AacEncoder;
class SerialQueue;

// Captures what the computer plays, from the capture side of the loopback device, as AAC-LC
// (44,100 Hz, stereo) and hands each packet behind its ADTS header to the callback, in order, on
// the serial queue "audioDataQueueACC". Nothing is delivered once StopRecord has returned, even
// packets still queued; the object may be destroyed with packets queued. StartRecord and StopRecord
// may come from different threads.
class AudioManager {
public:
    // The loopback device's two-channel capture side.
    static constexpr const char* kCaptureDeviceUID = "ROZI-Audio2ch_UID";

    // Makes the AAC encoder of each start; nullptr when none can be had.
    using EncoderFactory = std::function<std::unique_ptr<AacEncoder>()>;
    // Starts recording the loopback device's capture side into the consumer (on a thread of its
    // own); the recording runs as long as what it returns lives. Nullptr: the sound server refused.
    using CaptureStarter = std::function<std::shared_ptr<void>(std::function<void(std::vector<float> samples)> consumer)>;

    AudioManager();
    explicit AudioManager(EncoderFactory makeEncoder);
    AudioManager(EncoderFactory makeEncoder, CaptureStarter startCapture);
    // The sound server's recording of kCaptureDeviceUID.
    static CaptureStarter serverCapture();
    ~AudioManager();
    AudioManager(const AudioManager&) = delete;
    AudioManager& operator=(const AudioManager&) = delete;

    // Nothing when started. Without an encoder, or when the sound server refuses to record (no
    // server, no loopback device), it stays stopped. Neither from the callback (asserted), nor
    // destruction.
    void StartRecord();
    void StopRecord();
    bool IsStarted() const;
    // The latest pair wins; packets framed before any callback is set are dropped.
    void SetCallback(void* userData, MediaDataCallback callback);

    static std::optional<std::vector<uint8_t>> adtsDataForPacketLength(uint32_t packetLength);
    // One encoded AAC packet from the capture: framed and delivered on "audioDataQueueACC".
    void captureOutput(std::vector<uint8_t> packet);

private:
    // What the queued work shares with this object, so it may outlive it.
    struct Delivery {
        // Held across each callback call, so StopRecord returns only after the one running.
        std::recursive_mutex mutex;
        void* userData = nullptr;
        MediaDataCallback callback = nullptr;
        bool started = false;
        // Counts starts: a packet captured before a restart is never delivered after it. Changed
        // under the mutex; read without it, so capture never waits for a callback.
        std::atomic<uint64_t> generation = 0;
    };

    static void handOn(const std::shared_ptr<Delivery>& delivery, const std::shared_ptr<SerialQueue>& queue,
                       uint64_t generation, std::vector<uint8_t> packet);
    static void deliver(Delivery& delivery, uint64_t generation, const std::vector<uint8_t>& packet);
    void assertNotFromCallback() const;

    const EncoderFactory makeEncoder_;
    const CaptureStarter startCapture_;
    std::shared_ptr<Delivery> delivery_ = std::make_shared<Delivery>();
    // Held by StartRecord and StopRecord throughout, so that each builds or tears down the capture
    // below as a whole. Never taken by the delivery, so a stop may wait for the capture's thread.
    std::mutex lifecycleMutex_;
    std::shared_ptr<SerialQueue> audioDataQueueACC_;
    std::shared_ptr<SerialQueue> audioDataOutputQueue_;
    std::shared_ptr<void> capture_;
};

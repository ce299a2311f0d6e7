#include "Media/AudioManager/AudioManager.h"

#include "Media/AudioManager/AacEncoder.h"
#include "Media/AudioManager/AdtsHeader.h"
#include "Platform/PulseCapture.h"
#include "Platform/SerialQueue.h"
#include "Utils/Log.h"

#include <cassert>

namespace {

// A frame no longer than its header plus six bytes carries no sound worth sending.
constexpr size_t kMinDeliveredFrame = 14;

}  // namespace

AudioManager::AudioManager() : AudioManager(AacEncoder::create) {}

AudioManager::AudioManager(EncoderFactory makeEncoder) : AudioManager(std::move(makeEncoder), serverCapture()) {}

AudioManager::AudioManager(EncoderFactory makeEncoder, CaptureStarter startCapture)
    : makeEncoder_(std::move(makeEncoder)), startCapture_(std::move(startCapture)),
      audioDataQueueACC_(SerialQueue::create("audioDataQueueACC"))
{
}

AudioManager::CaptureStarter AudioManager::serverCapture()
{
    return [](std::function<void(std::vector<float>)> consumer) -> std::shared_ptr<void> {
        return PulseCapture::start(kCaptureDeviceUID, std::move(consumer));
    };
}

AudioManager::~AudioManager()
{
    StopRecord();
}

void AudioManager::StartRecord()
{
    assertNotFromCallback();
    std::lock_guard lifecycle(lifecycleMutex_);
    if (IsStarted())
        return;
    std::shared_ptr<AacEncoder> encoder = makeEncoder_();
    if (!encoder) {
        PLOG("sound capture not started: no AAC encoder");
        return;
    }
    uint64_t generation = 0;
    {
        std::lock_guard lock(delivery_->mutex);
        delivery_->started = true;
        generation = ++delivery_->generation;
    }
    audioDataOutputQueue_ = SerialQueue::create("audioDataOutputQueue.com");
    capture_ = startCapture_(
        [encoder, generation, delivery = delivery_, output = audioDataOutputQueue_,
         framing = audioDataQueueACC_](std::vector<float> samples) {
            output->async([=, samples = std::move(samples)] {
                for (auto& packet : encoder->encode(samples))
                    handOn(delivery, framing, generation, std::move(packet));
            });
        });
    if (!capture_) {
        // The sound server refused the recording: nothing is started, and the cast goes on without sound.
        PLOG("sound capture not started: the sound server refused to record %s", kCaptureDeviceUID);
        std::lock_guard lock(delivery_->mutex);
        delivery_->started = false;
    }
}

void AudioManager::StopRecord()
{
    assertNotFromCallback();
    std::lock_guard lifecycle(lifecycleMutex_);
    {
        std::lock_guard lock(delivery_->mutex);
        if (!delivery_->started)
            return;
        delivery_->started = false;
    }
    capture_.reset();
}

void AudioManager::assertNotFromCallback() const
{
    // The callback holds the delivery mutex, which a start or stop takes after the lifecycle lock: a
    // start or stop on another thread meanwhile would deadlock with it.
    assert(!audioDataQueueACC_->isCurrent() && "StartRecord and StopRecord never from the audio callback");
}

bool AudioManager::IsStarted() const
{
    std::lock_guard lock(delivery_->mutex);
    return delivery_->started;
}

void AudioManager::SetCallback(void* userData, MediaDataCallback callback)
{
    std::lock_guard lock(delivery_->mutex);
    delivery_->userData = userData;
    delivery_->callback = callback;
}

std::optional<std::vector<uint8_t>> AudioManager::adtsDataForPacketLength(uint32_t packetLength)
{
    return AdtsHeader::forPacketLength(packetLength);
}

void AudioManager::captureOutput(std::vector<uint8_t> packet)
{
    handOn(delivery_, audioDataQueueACC_, delivery_->generation, std::move(packet));
}

void AudioManager::handOn(const std::shared_ptr<Delivery>& delivery, const std::shared_ptr<SerialQueue>& queue,
                          uint64_t generation, std::vector<uint8_t> packet)
{
    queue->async([delivery, generation, packet = std::move(packet)] { deliver(*delivery, generation, packet); });
}

void AudioManager::deliver(Delivery& delivery, uint64_t generation, const std::vector<uint8_t>& packet)
{
    auto frame = AdtsHeader::frame(packet);
    if (!frame || frame->size() < kMinDeliveredFrame)
        return;
    std::lock_guard lock(delivery.mutex);
    if (delivery.started && delivery.generation == generation && delivery.callback)
        delivery.callback(delivery.userData, frame->data(), static_cast<uint32_t>(frame->size()));
}

#pragma once

#include "Session/CastVideoSource.h"

#include <cstdint>
#include <memory>

// A cast's video at a frame rate of the command line's choosing instead of the TV's answer (whose
// table stops at 30), for benchmarks: the inner source with every start's frame rate replaced.
class FixedFrameRateSource final : public CastVideoSource {
public:
    FixedFrameRateSource(std::unique_ptr<CastVideoSource> inner, int32_t fps) : inner_(std::move(inner)), fps_(fps) {}

    void setDelegate(RecordManagerToStopScreenDelegate* delegate) override { inner_->setDelegate(delegate); }
    void SetCallback(void* userData, MediaDataCallback callback) override { inner_->SetCallback(userData, callback); }
    void StartRecord(double width, double height, int32_t, ScreenType type, const std::shared_ptr<windowInfo>& window,
                     uint32_t screenId) override
    {
        inner_->StartRecord(width, height, fps_, type, window, screenId);
    }
    void StopRecord() override { inner_->StopRecord(); }
    void deallocRecord() override { inner_->deallocRecord(); }

private:
    const std::unique_ptr<CastVideoSource> inner_;
    const int32_t fps_;
};

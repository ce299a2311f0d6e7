#pragma once

#include "Media/EncoderH264/RecordManager.h"
#include "Session/CastVideoSource.h"

#include <string>

// A cast's video from the X screen, or from the sources given: RecordManager behind casting's interface.
class RecordManagerVideoSource final : public CastVideoSource {
public:
    RecordManagerVideoSource(RecordManager::Link link, std::string displayName, CaptureSourceFactory sources = {});

    void setDelegate(RecordManagerToStopScreenDelegate* delegate) override;
    void SetCallback(void* userData, MediaDataCallback callback) override;
    void StartRecord(double width, double height, int32_t framerate, ScreenType type,
                     const std::shared_ptr<windowInfo>& window, uint32_t screenId) override;
    void StopRecord() override;
    void deallocRecord() override;

private:
    RecordManager manager_;
};

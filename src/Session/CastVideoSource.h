#pragma once

#include "Media/EncoderH264/MediaDataCallback.h"
#include "Media/EncoderH264/ScreenType.h"

#include <cstdint>
#include <memory>

class RecordManagerToStopScreenDelegate;
class windowInfo;

// What casting drives of one cast's video capture: RecordManager's operations, so tests can cast
// without a screen. Same contract as RecordManager: once StopRecord returns, neither the callback
// nor the delegate is called again.
class CastVideoSource {
public:
    virtual ~CastVideoSource() = default;
    virtual void setDelegate(RecordManagerToStopScreenDelegate* delegate) = 0;
    virtual void SetCallback(void* userData, MediaDataCallback callback) = 0;
    virtual void StartRecord(double width, double height, int32_t framerate, ScreenType type,
                             const std::shared_ptr<windowInfo>& window, uint32_t screenId) = 0;
    virtual void StopRecord() = 0;
    virtual void deallocRecord() = 0;
};

#include "Session/RecordManagerVideoSource.h"

#include <utility>

RecordManagerVideoSource::RecordManagerVideoSource(RecordManager::Link link, std::string displayName,
                                                   CaptureSourceFactory sources)
    : manager_(std::move(link), std::move(displayName), std::move(sources))
{
}

void RecordManagerVideoSource::setDelegate(RecordManagerToStopScreenDelegate* delegate)
{
    manager_.setDelegate(delegate);
}

void RecordManagerVideoSource::SetCallback(void* userData, MediaDataCallback callback)
{
    manager_.SetCallback(userData, callback);
}

void RecordManagerVideoSource::StartRecord(double width, double height, int32_t framerate, ScreenType type,
                                           const std::shared_ptr<windowInfo>& window, uint32_t screenId)
{
    manager_.StartRecord(width, height, framerate, type, window, screenId);
}

void RecordManagerVideoSource::StopRecord()
{
    manager_.StopRecord();
}

void RecordManagerVideoSource::deallocRecord()
{
    manager_.deallocRecord();
}

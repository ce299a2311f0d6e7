#include "Session/LinkCaptureFailure.h"

#include "Platform/MainQueue.h"
#include "Socket/TCPManager.h"
#include "Utils/Log.h"

LinkCaptureFailure::LinkCaptureFailure(TCPManager& manager) : manager_(manager) {}

void LinkCaptureFailure::captureFailed()
{
    PLOG("the capture failed: releasing the TV link");
    // Main queue.
    MainQueue::shared()->async([&manager = manager_] { manager.tcpClientRelease(); });
}

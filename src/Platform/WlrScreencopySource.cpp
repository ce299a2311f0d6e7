#include "Platform/WlrScreencopySource.h"

#include "Platform/WlrScreencopyCapture.h"
#include "Utils/Log.h"

WlrScreencopySource::WlrScreencopySource(uint32_t outputName, std::string socket)
    : outputName_(outputName), socket_(std::move(socket))
{
}

WlrScreencopySource::~WlrScreencopySource() = default;

CaptureSource::Result WlrScreencopySource::capture(BgraFrame& frame)
{
    if (failed_)
        return Result::kFailed;
    if (!screencopy_ && !(screencopy_ = WlrScreencopyCapture::open(socket_))) {
        failed_ = true;
        return Result::kFailed;
    }
    WlrScreencopyCapture::CaptureResult result = screencopy_->capture(outputName_, frame, true);
    if (result == WlrScreencopyCapture::CaptureResult::kNoSuchOutput) {
        // The output went (unplugged): the main one takes its place, as on X11.
        if (!fallbackLogged_)
            PLOG("no output %u: capturing the first output", outputName_);
        fallbackLogged_ = true;
        result = screencopy_->capture(0, frame, true);
    }
    if (result == WlrScreencopyCapture::CaptureResult::kOk)
        return Result::kFrame;
    failed_ = true;
    return result == WlrScreencopyCapture::CaptureResult::kNoSuchOutput ? Result::kLost : Result::kFailed;
}

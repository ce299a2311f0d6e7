#pragma once

#include <cstdint>
#include <string>

// The camera and microphone relay's side of the TV link. Called on the transport's receive thread;
// the byte pointers are valid during the call only.
class ROZIOperationDelegate {
public:
    virtual ~ROZIOperationDelegate() = default;

    virtual void onReveiveCameraVideoData(const uint8_t* data, int64_t len) = 0;
    virtual void handleMicDataToDecode(const uint8_t* data, int len) = 0;
    // type: 1 microphone, 2 camera.
    virtual void showRoziTipWindow(int code, int64_t type) = 0;
    // device: "CAMERA" or "MIC".
    virtual void tvOpenRozi(const std::string& device) = 0;
    virtual void enableRoziFunction(bool enable) = 0;
};

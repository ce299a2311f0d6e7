#pragma once

#include <cstdint>
#include <string>

// The session controller's side of the TV link: connection results, the casting code, the cast's
// quality answer, the TV's touches and the senders panel. Called on the TCPManager queue or on the
// transport's receive thread (see TCPManager); implementers move user-interface work to the main
// queue themselves.
class VXTcpConnectDelegate {
public:
    virtual ~VXTcpConnectDelegate() = default;

    virtual void onConnectSuccess(const std::string& name) = 0;
    virtual void onConnectFail() = 0;
    virtual void onDisConnect() = 0;
    virtual void onReceiveScreenCode(const std::string& code) = 0;
    virtual void onVideoQuality(int level, int width, int height, int fps) = 0;
    // type is kMsgTouchDown, kMsgTouchMove, kMsgTouchUp or kPointerLongPress; data holds the
    // TouchPayload as received (little-endian) and is valid during the call only.
    virtual void onTvcontrolReceived(int type, const uint8_t* data, int64_t len) = 0;
    virtual void tvRequestMirror() = 0;
    virtual void tvIntErruptMirror() = 0;
    virtual void tvMirrorLock() = 0;
    virtual void connectListMessage(const std::string& json) = 0;
    virtual void changeButtonName(int64_t index, int status) = 0;
    virtual void tvShareFile2pc(const std::string& json) = 0;
    virtual void supportChangeQuality(bool support) = 0;
};

#pragma once

// The TV-screen window's view of the TV application's version and of who controls the TV.
// Called on the transport's receive thread.
class VXTcpReverseVersionDelegate {
public:
    virtual ~VXTcpReverseVersionDelegate() = default;

    virtual void tvAppVersion(int version) = 0;
    virtual void changeControlStatus(bool granted) = 0;
    // messageType is the message to announce the window's size with (kMsgViewSize).
    virtual void getWindowSizeSendTv(int messageType) = 0;
};

#pragma once

#include <cstdint>

// The TV-screen viewer's side of the TV link. Called on the transport's threads (the video on its
// delivery thread), the reverse invitation on the main queue.
class VXTcpReverseControlDelegate {
public:
    virtual ~VXTcpReverseControlDelegate() = default;

    virtual void onReceiveScreenReaolution(int width, int height) = 0;
    // One Annex-B packet of the TV's screen stream, valid during the call only.
    virtual void onReveiveScreenVideoData(const uint8_t* data, int64_t len) = 0;
    virtual void tvScreenStop() = 0;
    virtual void tvScreenFail(int reason) = 0;
    virtual void tvKeyHandle(int keyCode) = 0;
    virtual void pushFileSuccess() = 0;
    virtual void tvInviteToReverse() = 0;
};

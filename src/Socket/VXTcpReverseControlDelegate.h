#pragma once

#include <cstdint>

// The link's reverse-control events, in parts by the concern that handles them (TCPManager::setDelegate).
// Called on the transport's threads (the video on its delivery thread), the reverse invitation on the
// main queue.

// The TV's screen in a window.
class TvScreenDelegate {
public:
    virtual ~TvScreenDelegate() = default;

    virtual void onReceiveScreenReaolution(int width, int height) = 0;
    // One Annex-B packet of the TV's screen stream, valid during the call only.
    virtual void onReveiveScreenVideoData(const uint8_t* data, int64_t len) = 0;
    virtual void tvScreenStop() = 0;
    virtual void tvScreenFail(int reason) = 0;
    virtual void tvInviteToReverse() = 0;
};

// The TV's keys.
class TvKeyDelegate {
public:
    virtual ~TvKeyDelegate() = default;

    virtual void tvKeyHandle(int keyCode) = 0;
};

// The TV's acknowledgement of pushed files.
class TvFilePushDelegate {
public:
    virtual ~TvFilePushDelegate() = default;

    virtual void pushFileSuccess() = 0;
};

// All of them in one: the reverse-control delegate, for a client that handles every part itself.
class VXTcpReverseControlDelegate : public TvScreenDelegate, public TvKeyDelegate, public TvFilePushDelegate {};

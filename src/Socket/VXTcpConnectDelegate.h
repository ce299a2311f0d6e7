#pragma once

#include "Socket/LinkEndReason.h"

#include <cstdint>
#include <string>

// The session controller's side of the TV link, in parts by the concern that handles them, so each
// concern registers for its own events (TCPManager::setDelegate). Called on the TCPManager queue or on
// the transport's receive thread (see TCPManager); implementers move user-interface work to the main
// queue themselves.

// Connection results and the casting code.
class TvConnectionDelegate {
public:
    virtual ~TvConnectionDelegate() = default;

    virtual void onConnectSuccess(const std::string& name) = 0;
    virtual void onConnectFail() = 0;
    // Why the link ended; Released also when this side ended it for a reason of its own.
    virtual void onDisConnect(LinkEndReason reason) = 0;
    virtual void onReceiveScreenCode(const std::string& code) = 0;
};

// The cast: the TV's quality answer, its requests, and whether it takes quality changes.
class TvCastDelegate {
public:
    virtual ~TvCastDelegate() = default;

    virtual void onVideoQuality(int level, int width, int height, int fps) = 0;
    virtual void tvRequestMirror() = 0;
    virtual void tvIntErruptMirror() = 0;
    virtual void tvMirrorLock() = 0;
    virtual void supportChangeQuality(bool support) = 0;
};

// The TV's touches.
class TvTouchDelegate {
public:
    virtual ~TvTouchDelegate() = default;

    // type is kMsgTouchDown, kMsgTouchMove, kMsgTouchUp or kPointerLongPress; data holds the
    // TouchPayload as received (little-endian) and is valid during the call only.
    virtual void onTvcontrolReceived(int type, const uint8_t* data, int64_t len) = 0;
};

// The senders panel.
class TvSendersDelegate {
public:
    virtual ~TvSendersDelegate() = default;

    virtual void connectListMessage(const std::string& json) = 0;
    virtual void changeButtonName(int64_t index, int status) = 0;
};

// Files the TV offers.
class TvFileOfferDelegate {
public:
    virtual ~TvFileOfferDelegate() = default;

    virtual void tvShareFile2pc(const std::string& json) = 0;
};

// All of them in one: the connect delegate, for a client that handles every part itself.
class VXTcpConnectDelegate : public TvConnectionDelegate,
                             public TvCastDelegate,
                             public TvTouchDelegate,
                             public TvSendersDelegate,
                             public TvFileOfferDelegate {};

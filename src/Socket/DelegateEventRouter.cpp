#include "Socket/DelegateEventRouter.h"

#include "Platform/MainQueue.h"
#include "Socket/CapabilityFlagPayload.h"
#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <string>
#include <utility>

namespace {

// showRoziTipWindow types.
constexpr int64_t kRoziTipMic = 1;
constexpr int64_t kRoziTipCamera = 2;

int32_t intValue(std::span<const uint8_t> payload)
{
    return Int32Payload::decode(payload).value;
}

// A text payload: UTF-8 up to its first NUL or its end.
std::string textOf(std::span<const uint8_t> payload)
{
    return ByteReader(payload).text();
}

} // namespace

DelegateEventRouter::DelegateEventRouter(std::shared_ptr<SessionDelegates> delegates,
                                         std::shared_ptr<SerialQueue> queue)
    : delegates_(std::move(delegates)), queue_(std::move(queue))
{
}

// Transport thread. Blocks posted to queue_ run on the session queue. Values they use are copied out
// of the payload first: the transport reuses its buffers as soon as this returns.
bool DelegateEventRouter::route(int type, std::span<const uint8_t> payload) const
{
    SessionDelegates& slots = *delegates_;
    switch (type) {
    case kMsgConnected:
    case kMsgFilePushIgnored:
        break;
    case kMsgScreenCode:
        queue_->async([delegates = delegates_, code = textOf(payload)] {
            delegates->connect.call(&VXTcpConnectDelegate::onReceiveScreenCode, code);
        });
        break;
    case kMsgTvVersion: {
        const int32_t version = intValue(payload);
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::tvAppVersion, version);
        if (version > kRoziMinimumTvVersion)
            slots.rozi.call(&ROZIOperationDelegate::enableRoziFunction, true);
        break;
    }
    case kMsgTvScreenStop:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenStop);
        break;
    case kMsgTvScreenFail:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenFail, intValue(payload));
        break;
    case kMsgSpeakerStatus: {
        const bool speaker = intValue(payload) == 1;
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, speaker);
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, speaker);
        break;
    }
    case kMsgSpeakerRevoked: {
        const int32_t value = intValue(payload);
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, false);
        if (value == 1)
            slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, false);
        else if (value == 0)
            slots.reverseControl.call(&VXTcpReverseControlDelegate::tvScreenStop);
        break;
    }
    case kMsgMirrorLocked:
        slots.connect.call(&VXTcpConnectDelegate::tvMirrorLock);
        break;
    case kMsgControlGranted:
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::changeControlStatus, true);
        slots.reverseVersion.call(&VXTcpReverseVersionDelegate::getWindowSizeSendTv, int{kMsgViewSize});
        slots.activeVersions.call(&ActiveVersionsDelegate::isSpeakerHandler, true);
        break;
    case kMsgClientList: {
        const std::string list = textOf(payload);
        PLOG("ball message:%s", list.c_str());
        slots.connect.call(&VXTcpConnectDelegate::connectListMessage, list);
        break;
    }
    case kMsgModeratorButton0:
    case kMsgModeratorButton1:
    case kMsgSplitScreen:
    case kMsgReverseSwitch: {
        const int64_t index = type == kMsgModeratorButton0   ? 0
                              : type == kMsgModeratorButton1 ? 1
                              : type == kMsgSplitScreen      ? 2
                                                             : 3;
        slots.connect.call(&VXTcpConnectDelegate::changeButtonName, index, intValue(payload));
        break;
    }
    case kMsgTvScreenResolution:
        if (const auto size = TvScreenResolutionPayload::decode(payload))
            slots.reverseControl.call(&VXTcpReverseControlDelegate::onReceiveScreenReaolution, size->width,
                                      size->height);
        else
            PLOG("screen resolution of %zu bytes dropped: it needs 8", payload.size());
        break;
    case kMsgVideoFrame:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::onReveiveScreenVideoData, payload.data(),
                                  static_cast<int64_t>(payload.size()));
        break;
    case kMsgTvRequestCast:
        queue_->async(
            [delegates = delegates_] { delegates->connect.call(&VXTcpConnectDelegate::tvRequestMirror); });
        break;
    case kMsgTvInterruptCast:
        queue_->async(
            [delegates = delegates_] { delegates->connect.call(&VXTcpConnectDelegate::tvIntErruptMirror); });
        break;
    case kMsgVideoQuality:
        if (const auto quality = VideoQualityPayload::decode(payload)) {
            queue_->async([delegates = delegates_, q = *quality] {
                delegates->connect.call(&VXTcpConnectDelegate::onVideoQuality, q.level, q.width, q.height, q.fps);
            });
        } else {
            PLOG("video quality of %zu bytes dropped: it needs 20", payload.size());
        }
        break;
    case kMsgFilePushAck:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::pushFileSuccess);
        break;
    case kMsgKeyCode:
        slots.reverseControl.call(&VXTcpReverseControlDelegate::tvKeyHandle,
                                  Int32Payload::decodeLittleEndian(payload).value);
        break;
    case kMsgCameraOpenRequest:
        slots.rozi.call(&ROZIOperationDelegate::tvOpenRozi, std::string("CAMERA"));
        break;
    case kMsgMicOpenRequest:
        slots.rozi.call(&ROZIOperationDelegate::tvOpenRozi, std::string("MIC"));
        break;
    case kMsgCameraError:
    case kMsgCameraClose:
        slots.rozi.call(&ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipCamera);
        break;
    case kMsgMicError:
    case kMsgMicClose:
        slots.rozi.call(&ROZIOperationDelegate::showRoziTipWindow, intValue(payload), kRoziTipMic);
        break;
    case kMsgCameraData:
        slots.rozi.call(&ROZIOperationDelegate::onReveiveCameraVideoData, payload.data(),
                        static_cast<int64_t>(payload.size()));
        break;
    case kMsgMicData:
        slots.rozi.call(&ROZIOperationDelegate::handleMicDataToDecode, payload.data(),
                        static_cast<int>(payload.size()));
        break;
    case kMsgActiveVersion:
        slots.activeVersions.call(&ActiveVersionsDelegate::activeVersionHandler, intValue(payload));
        break;
    case kMsgRoziEnable:
        slots.rozi.call(&ROZIOperationDelegate::enableRoziFunction, CapabilityFlagPayload::decode(payload).flag != 0);
        break;
    case kMsgFileShareOffer:
        slots.connect.call(&VXTcpConnectDelegate::tvShareFile2pc, textOf(payload));
        break;
    case kMsgReverseInvite:
        // Runs on the main queue; reaches the delegate even if the link ends meanwhile.
        MainQueue::shared()->asyncAfter(kReverseInviteDelay, [delegates = delegates_] {
            delegates->reverseControl.call(&VXTcpReverseControlDelegate::tvInviteToReverse);
        });
        break;
    case kMsgQualityChangeSupport:
        slots.connect.call(&VXTcpConnectDelegate::supportChangeQuality,
                           CapabilityFlagPayload::decode(payload).flag != 0);
        break;
    default:
        return false;
    }
    return true;
}

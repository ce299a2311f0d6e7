#include "Socket/SessionEventTable.h"

#include "Socket/CapabilityFlagPayload.h"
#include "Socket/Int32Payload.h"
#include "Socket/LinkEndReason.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/ResendSpsPpsFlag.h"
#include "Socket/ServerInfoRecord.h"
#include "Socket/SessionControl.h"
#include "Socket/SessionEventDelivery.h"
#include "Socket/TvScreenResolutionPayload.h"
#include "Socket/VideoQualityPayload.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <algorithm>
#include <string>

namespace {

using Payload = std::span<const uint8_t>;
using Delivery = SessionEvent::Delivery;
using ReverseVersion = VXTcpReverseVersionDelegate;

// Versions of the TV application above this one have the camera and microphone relay.
constexpr int32_t kRoziMinimumTvVersion = 75;
// showRoziTipWindow types.
constexpr int64_t kRoziTipMic = 1;
constexpr int64_t kRoziTipCamera = 2;

int32_t intValue(Payload payload)
{
    return Int32Payload::decode(payload).value;
}

// A text payload: UTF-8 up to its first NUL or its end.
std::string textOf(Payload payload)
{
    return ByteReader(payload).text();
}

bool flagOf(Payload payload)
{
    return CapabilityFlagPayload::decode(payload).flag != 0;
}

void nothing(SessionEventDelivery&, int, Payload) {}

void disconnected(SessionEventDelivery& d, int, Payload payload)
{
    const auto link = d.session().linkEnded();
    if (!link)
        return;
    const LinkEndReason reason = linkEndReasonOf(payload);
    PLOG("the link ended: %s", linkEndReasonName(reason));
    d.deliver([&session = d.session(), delegates = d.delegates(), link = *link, reason] {
        session.closeEndedLink(link);
        delegates->call(&TvConnectionDelegate::onDisConnect, reason);
    });
}

void screenCode(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&TvConnectionDelegate::onReceiveScreenCode, textOf(payload));
}

void tvVersion(SessionEventDelivery& d, int, Payload payload)
{
    const int32_t version = intValue(payload);
    d.call(&ReverseVersion::tvAppVersion, version);
    if (version > kRoziMinimumTvVersion)
        d.call(&ROZIOperationDelegate::enableRoziFunction, true);
}

void tvScreenStop(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvScreenDelegate::tvScreenStop);
}

void tvScreenFail(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&TvScreenDelegate::tvScreenFail, intValue(payload));
}

void speakerStatus(SessionEventDelivery& d, int, Payload payload)
{
    const bool speaker = intValue(payload) == 1;
    d.call(&ReverseVersion::changeControlStatus, speaker);
    d.call(&ActiveVersionsDelegate::isSpeakerHandler, speaker);
}

void speakerRevoked(SessionEventDelivery& d, int, Payload payload)
{
    const int32_t value = intValue(payload);
    d.call(&ActiveVersionsDelegate::isSpeakerHandler, false);
    if (value == 1)
        d.call(&ReverseVersion::changeControlStatus, false);
    else if (value == 0)
        d.call(&TvScreenDelegate::tvScreenStop);
}

void mirrorLocked(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvCastDelegate::tvMirrorLock);
}

void serverInfo(SessionEventDelivery& d, int, Payload payload)
{
    const auto record = ServerInfoRecord::decode(payload);
    if (!record) {
        PLOG_WARNING("server information of %zu bytes dropped: the name lies at offset 40", payload.size());
        return;
    }
    d.session().serverInfoArrived();
    d.call(&TvConnectionDelegate::onConnectSuccess, record->name);
}

void requestSpsPps(SessionEventDelivery& d, int, Payload)
{
    d.deliver([] { gResendSpsPpsFlag = 1; });
}

void controlGranted(SessionEventDelivery& d, int, Payload)
{
    d.call(&ReverseVersion::changeControlStatus, true);
    d.call(&ReverseVersion::getWindowSizeSendTv, int{kMsgViewSize});
    d.call(&ActiveVersionsDelegate::isSpeakerHandler, true);
}

void clientList(SessionEventDelivery& d, int, Payload payload)
{
    const std::string list = textOf(payload);
    PLOG("ball message:%s", list.c_str());
    d.call(&TvSendersDelegate::connectListMessage, list);
}

void buttonStatus(SessionEventDelivery& d, int type, Payload payload)
{
    const int64_t index = type == kMsgModeratorButton0   ? 0
                          : type == kMsgModeratorButton1 ? 1
                          : type == kMsgSplitScreen      ? 2
                                                         : 3;
    d.call(&TvSendersDelegate::changeButtonName, index, intValue(payload));
}

void tvScreenResolution(SessionEventDelivery& d, int, Payload payload)
{
    const auto size = TvScreenResolutionPayload::decode(payload);
    if (!size) {
        PLOG_WARNING("screen resolution of %zu bytes dropped: it needs 8", payload.size());
        return;
    }
    d.call(&TvScreenDelegate::onReceiveScreenReaolution, size->width, size->height);
}

// The bytes are the transport's: valid during the call only.
void videoFrame(SessionEventDelivery& d, int, Payload payload)
{
    d.lend([&] {
        d.delegates()->call(&TvScreenDelegate::onReveiveScreenVideoData, payload.data(),
                            static_cast<int64_t>(payload.size()));
    });
}

void tvRequestCast(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvCastDelegate::tvRequestMirror);
}

void tvInterruptCast(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvCastDelegate::tvIntErruptMirror);
}

void videoQuality(SessionEventDelivery& d, int, Payload payload)
{
    const auto quality = VideoQualityPayload::decode(payload);
    if (!quality) {
        PLOG_WARNING("video quality of %zu bytes dropped: it needs 20", payload.size());
        return;
    }
    d.call(&TvCastDelegate::onVideoQuality, quality->level, quality->width, quality->height,
           quality->fps);
}

void clientInfoRequest(SessionEventDelivery& d, int, Payload)
{
    d.deliver([&session = d.session()] { session.answerClientInfoRequest(); });
}

void filePushAck(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvFilePushDelegate::pushFileSuccess);
}

void keyCode(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&TvKeyDelegate::tvKeyHandle, Int32Payload::decodeLittleEndian(payload).value);
}

// Filtered on the receive thread; the hold ends where the touch is handed on.
void touch(SessionEventDelivery& d, int type, Payload payload)
{
    PointerFilter& filter = d.session().pointerFilter();
    const auto touch = filter.filter(type, payload);
    if (!touch)
        return;
    d.deliver([&filter, delegates = d.delegates(), touch = *touch] {
        filter.willDeliver(touch.type);
        delegates->call(&TvTouchDelegate::onTvcontrolReceived, touch.type, touch.data.data(),
                                static_cast<int64_t>(touch.data.size()));
    });
}

void relayOpenRequest(SessionEventDelivery& d, int type, Payload)
{
    d.call(&ROZIOperationDelegate::tvOpenRozi,
           std::string(type == kMsgCameraOpenRequest ? "CAMERA" : "MIC"));
}

void relayTip(SessionEventDelivery& d, int type, Payload payload)
{
    const bool camera = type == kMsgCameraError || type == kMsgCameraClose;
    d.call(&ROZIOperationDelegate::showRoziTipWindow, intValue(payload),
           camera ? kRoziTipCamera : kRoziTipMic);
}

// The bytes are the transport's: valid during the call only.
void cameraData(SessionEventDelivery& d, int, Payload payload)
{
    d.lend([&] {
        d.delegates()->call(&ROZIOperationDelegate::onReveiveCameraVideoData, payload.data(),
                            static_cast<int64_t>(payload.size()));
    });
}

// The bytes are the transport's: valid during the call only.
void micData(SessionEventDelivery& d, int, Payload payload)
{
    d.lend([&] {
        d.delegates()->call(&ROZIOperationDelegate::handleMicDataToDecode, payload.data(),
                            static_cast<int>(payload.size()));
    });
}

void activeVersion(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&ActiveVersionsDelegate::activeVersionHandler, intValue(payload));
}

void roziEnable(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&ROZIOperationDelegate::enableRoziFunction, flagOf(payload));
}

// The offer is read from the transport's bytes.
void keyExchangeOffer(SessionEventDelivery& d, int, Payload payload)
{
    d.lend([&] { d.session().answerKeyExchange(payload); });
}

void fileShareOffer(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&TvFileOfferDelegate::tvShareFile2pc, textOf(payload));
}

// Reaches the delegate even when the link has ended meanwhile.
void reverseInvite(SessionEventDelivery& d, int, Payload)
{
    d.call(&TvScreenDelegate::tvInviteToReverse);
}

void clientRemove(SessionEventDelivery& d, int, Payload)
{
    d.deliver([&session = d.session()] { session.tcpClientRelease(); });
}

void qualityChangeSupport(SessionEventDelivery& d, int, Payload payload)
{
    d.call(&TvCastDelegate::supportChangeQuality, flagOf(payload));
}

constexpr Delivery AtOnce = Delivery::AtOnce;
constexpr Delivery Queue = Delivery::SessionQueue;
constexpr Delivery MainLater = Delivery::MainQueueLater;

// In the order of the session manager's message table.
constexpr SessionEvent kEvents[] = {
    {kMsgConnected, AtOnce, nothing},
    {kMsgFilePushIgnored, AtOnce, nothing},
    {kMsgDisconnected, Queue, disconnected},
    {kMsgScreenCode, Queue, screenCode},
    {kMsgTvVersion, AtOnce, tvVersion},
    {kMsgTvScreenStop, AtOnce, tvScreenStop},
    {kMsgTvScreenFail, AtOnce, tvScreenFail},
    {kMsgSpeakerStatus, AtOnce, speakerStatus},
    {kMsgSpeakerRevoked, AtOnce, speakerRevoked},
    {kMsgMirrorLocked, AtOnce, mirrorLocked},
    {kMsgServerInfo, Queue, serverInfo},
    {kMsgRequestSpsPps, AtOnce, requestSpsPps},
    {kMsgControlGranted, AtOnce, controlGranted},
    {kMsgClientList, AtOnce, clientList},
    {kMsgModeratorButton0, AtOnce, buttonStatus},
    {kMsgModeratorButton1, AtOnce, buttonStatus},
    {kMsgSplitScreen, AtOnce, buttonStatus},
    {kMsgReverseSwitch, AtOnce, buttonStatus},
    {kMsgTvScreenResolution, AtOnce, tvScreenResolution},
    {kMsgVideoFrame, AtOnce, videoFrame},
    {kMsgTvRequestCast, Queue, tvRequestCast},
    {kMsgTvInterruptCast, Queue, tvInterruptCast},
    {kMsgVideoQuality, Queue, videoQuality},
    {kMsgClientInfoRequest, AtOnce, clientInfoRequest},
    {kMsgFilePushAck, AtOnce, filePushAck},
    {kMsgKeyCode, AtOnce, keyCode},
    {kMsgTouchDown, Queue, touch},
    {kMsgTouchMove, Queue, touch},
    {kMsgTouchUp, Queue, touch},
    {kMsgCameraOpenRequest, AtOnce, relayOpenRequest},
    {kMsgMicOpenRequest, AtOnce, relayOpenRequest},
    {kMsgCameraError, AtOnce, relayTip},
    {kMsgCameraClose, AtOnce, relayTip},
    {kMsgMicError, AtOnce, relayTip},
    {kMsgMicClose, AtOnce, relayTip},
    {kMsgCameraData, AtOnce, cameraData},
    {kMsgMicData, AtOnce, micData},
    {kMsgActiveVersion, AtOnce, activeVersion},
    {kMsgRoziEnable, AtOnce, roziEnable},
    {kMsgKeyExchangeOffer, AtOnce, keyExchangeOffer},
    {kMsgFileShareOffer, AtOnce, fileShareOffer},
    {kMsgReverseInvite, MainLater, reverseInvite},
    {kMsgClientRemove, AtOnce, clientRemove},
    {kMsgQualityChangeSupport, AtOnce, qualityChangeSupport},
};

} // namespace

std::span<const SessionEvent> SessionEventTable::all()
{
    return kEvents;
}

const SessionEvent* SessionEventTable::find(int type)
{
    const auto* it = std::find_if(std::begin(kEvents), std::end(kEvents),
                                  [type](const SessionEvent& event) { return event.type == type; });
    return it != std::end(kEvents) ? it : nullptr;
}

#include "Socket/MessageCatalogue.h"

#include "Socket/MessageType.h"

#include <algorithm>
#include <array>

namespace {

using Handling = MessageInfo::Handling;
constexpr uint8_t In = MessageInfo::kIn;
constexpr uint8_t Out = MessageInfo::kOut;
constexpr uint8_t Both = MessageInfo::kBoth;
constexpr uint8_t Event = MessageInfo::kEvent;

// Names each row after its constant, so the log name can never drift from the code.
#define MSG(constant, direction, payload, handling) \
    MessageInfo { constant, #constant, direction, payload, Handling::handling }

constexpr std::array kMessages{
    MSG(kMsgConnected, Event, "text", NoAction),
    MSG(kMsgDisconnected, Event, "text; LinkEndReason byte", Session),
    MSG(kMsgPeerIdentity, In, "text", Unprocessed),
    MSG(kMsgScreenCode, In, "text", Session),
    MSG(kMsgTvVersion, In, "Int32Payload", Session),
    MSG(kMsgHeartbeat, Both, "HeartbeatPayload", Transport),
    MSG(kMsgTvScreenStart, Out, "none", Unprocessed),
    MSG(kMsgTvScreenStop, Both, "none", Session),
    MSG(kMsgTvScreenFail, In, "Int32Payload", Session),
    MSG(kMsgSpeakerStatus, Both, "out: none; in: Int32Payload", Session),
    MSG(kMsgSpeakerRevoked, In, "Int32Payload", Session),
    MSG(kMsgMirrorLocked, In, "none", Session),
    // Received, the transport raises kMsgPeerIdentity with its device name instead.
    MSG(kMsgClientInfo, Out, "ClientInfoRecord", Transport),
    MSG(kMsgServerInfo, In, "ServerInfoRecord", Session),
    MSG(kMsgRequestSpsPps, In, "none", Session),
    MSG(kMsgUdpChannelOpen, In, "UdpChannelOpenPayload", Transport),
    MSG(kMsgUdpResendFragments, In, "UdpResendFragmentsPayload", Transport),
    MSG(kMsgUdpResendRange, In, "UdpResendRangePayload", Transport),
    MSG(kMsgControlGranted, In, "none", Session),
    MSG(kMsgClientList, In, "JSON array of ClientListEntry", Session),
    MSG(kMsgModeratorButton0, In, "Int32Payload", Session),
    MSG(kMsgModeratorButton1, In, "Int32Payload", Session),
    MSG(kMsgSplitScreen, Both, "Int32Payload", Session),
    MSG(kMsgClientLock, Out, "ClientControlPayload", Unprocessed),
    MSG(kMsgClientSpeaker, Out, "ClientControlPayload", Unprocessed),
    MSG(kMsgTvScreenResolution, In, "TvScreenResolutionPayload", Session),
    MSG(kMsgVideoFrame, Both, "VideoFramePayload", Session),
    MSG(kMsgAudioFrame, Out, "AudioFramePayload", Dropped),
    MSG(kMsgCastStop, Out, "none", Unprocessed),
    MSG(kMsgTvRequestCast, In, "none", Session),
    MSG(kMsgTvInterruptCast, In, "none", Session),
    MSG(kMsgCastVideoFormat, Out, "CastVideoFormatPayload", Unprocessed),
    MSG(kMsgCastAudioFormat, Out, "none", Unprocessed),
    MSG(kMsgVideoQuality, In, "VideoQualityPayload", Session),
    MSG(kMsgClientInfoRequest, In | Event, "none", Session),
    MSG(kMsgFilePushAck, In, "none", Session),
    MSG(kMsgFilePushIgnored, In, "none", NoAction),
    MSG(kMsgPresentationState, Out, "Int32Payload, little-endian", Unprocessed),
    MSG(kMsgFilePush, Out, "FileShareList", Unprocessed),
    MSG(kMsgKeyCode, Both, "out: Int32Payload; in: Int32Payload, little-endian", Session),
    MSG(kMsgViewSize, Out, "ViewSizePayload", Unprocessed),
    MSG(kMsgTouchDown, Both, "TouchPayload", Session),
    MSG(kMsgTouchMove, Both, "TouchPayload", Session),
    MSG(kMsgTouchUp, Both, "TouchPayload", Session),
    MSG(kMsgOutputVolume, Out, "Int32Payload", Unprocessed),
    MSG(kMsgKeyDown, Out, "KeyEventPayload", Unprocessed),
    MSG(kMsgKeyUp, Out, "KeyEventPayload", Unprocessed),
    MSG(kMsgScroll, Out, "ScrollPayload", Unprocessed),
    MSG(kMsgNetworkEcho, Both, "NetworkEchoPayload", Transport),
    MSG(kMsgAnnotationMode, Out, "Int32Payload", Unprocessed),
    MSG(kMsgAnnotationClear, Out, "none", Unprocessed),
    MSG(kMsgAnnotationDown, Out, "TouchPayload", Unprocessed),
    MSG(kMsgAnnotationMove, Out, "TouchPayload", Unprocessed),
    MSG(kMsgAnnotationUp, Out, "TouchPayload", Unprocessed),
    MSG(kMsgAnnotationUndo, Out, "none", Unprocessed),
    MSG(kMsgCameraOpen, Out, "none", Unprocessed),
    MSG(kMsgCameraOpenRequest, In, "none", Session),
    MSG(kMsgCameraError, In, "Int32Payload", Session),
    MSG(kMsgCameraData, In, "camera bytes", Session),
    MSG(kMsgCameraClose, Both, "out: none; in: Int32Payload", Session),
    MSG(kMsgMicOpen, Out, "none", Unprocessed),
    MSG(kMsgMicOpenRequest, In, "none", Session),
    MSG(kMsgMicError, In, "Int32Payload", Session),
    MSG(kMsgMicData, In, "microphone bytes", Session),
    MSG(kMsgMicClose, Both, "out: none; in: Int32Payload", Session),
    MSG(kMsgActiveVersion, In, "Int32Payload", Session),
    MSG(kMsgRoziEnable, In, "CapabilityFlagPayload", Session),
    MSG(kMsgKeyExchangeOffer, In, "KeyExchangeOffer", Session),
    MSG(kMsgSessionKey, Out, "WrappedSessionKey", Unprocessed),
    MSG(kMsgNoEncryption, Out, "none", Unprocessed),
    MSG(kMsgFileShareOffer, In, "FileShareOffer", Session),
    MSG(kMsgFileShareAccept, Out, "Int32Payload", Unprocessed),
    MSG(kMsgFileShareReject, Out, "none", Unprocessed),
    MSG(kMsgFileShareComplete, Out, "none", Unprocessed),
    MSG(kMsgFileShareFileDone, Out, "none", Unprocessed),
    MSG(kMsgReverseInvite, In, "none", Session),
    MSG(kMsgReverseSwitch, Both, "Int32Payload", Session),
    MSG(kMsgClientReverse, Out, "ClientControlPayload", Unprocessed),
    MSG(kMsgClientMirror, Out, "ClientControlPayload", Unprocessed),
    MSG(kMsgClientRemove, Both, "out: ClientRemovePayload; in: none", Session),
    MSG(kMsgQualityChangeSupport, In, "CapabilityFlagPayload", Session),
};

#undef MSG

constexpr bool byType(const MessageInfo& a, const MessageInfo& b) { return a.type < b.type; }

// find() searches by halves, so the rows must stay in strictly ascending order.
static_assert(std::adjacent_find(kMessages.begin(), kMessages.end(),
                                 [](const MessageInfo& a, const MessageInfo& b) { return !byType(a, b); })
              == kMessages.end());

} // namespace

std::span<const MessageInfo> MessageCatalogue::all()
{
    return kMessages;
}

const MessageInfo* MessageCatalogue::find(uint16_t type)
{
    const MessageInfo key{type, nullptr, 0, nullptr, Handling::Unprocessed};
    const auto it = std::lower_bound(kMessages.begin(), kMessages.end(), key, byType);
    return it != kMessages.end() && it->type == type ? &*it : nullptr;
}

const char* MessageCatalogue::name(uint16_t type)
{
    const MessageInfo* info = find(type);
    return info ? info->name : "unknown";
}

bool MessageCatalogue::logsUnprocessed(uint16_t type)
{
    const MessageInfo* info = find(type);
    return !info || info->handling == Handling::Unprocessed;
}

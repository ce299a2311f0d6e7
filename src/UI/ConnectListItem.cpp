#include "UI/ConnectListItem.h"

#include "Socket/ClientControlPayload.h"
#include "Socket/ClientRemovePayload.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Utils/Log.h"

#include <algorithm>

ConnectListItem::ConnectListItem(size_t position, DeviceMessage deviceMessage, bool existLockDevice, TCPManager& link)
    : number_(position + 1), deviceMessage_(std::move(deviceMessage)), link_(&link)
{
    initUI(existLockDevice);
}

void ConnectListItem::initUI(bool existLockDevice)
{
    setNameLabelText();
    setLockBtnImage();
    setSpeakerBtnImage();
    setMirrorBtnImage(existLockDevice);
    setReverseBtnImage();
}

void ConnectListItem::setNameLabelText()
{
    textColor_ = deviceMessage_.isShare ? TextColor::Blue : TextColor::White;
}

void ConnectListItem::setLockBtnImage()
{
    lockBtn_ = {deviceMessage_.isLock ? "SelectedBox" : "UnSelectedBox", true};
}

void ConnectListItem::setSpeakerBtnImage()
{
    speakerBtn_ = {deviceMessage_.speaker ? "SpeakerIcon" : "UnSpeakerIcon", true};
}

void ConnectListItem::setMirrorBtnImage(bool existLockDevice)
{
    // While a sender is locked, only it and the speaker may have their casting changed.
    if (existLockDevice && !deviceMessage_.isLock && !deviceMessage_.speaker) {
        mirrorBtn_ = {"MirrorClose", false};
        return;
    }
    mirrorBtn_ = {deviceMessage_.isShare ? "MirrorOpen" : "MirrorClose", true};
}

void ConnectListItem::setReverseBtnImage()
{
    if (std::ranges::find(kModesWithoutReverseControl, deviceMessage_.clientMode) !=
        kModesWithoutReverseControl.end()) {
        reverseBtn_ = {"ReverseClose", false};
        return;
    }
    reverseBtn_ = {deviceMessage_.isReverseMirroring ? "ReverseOpen" : "ReverseClose", true};
}

void ConnectListItem::mirrorScreen() const
{
    sendControl(kMsgClientMirror, deviceMessage_.isShare);
}

void ConnectListItem::reverseScreen() const
{
    sendControl(kMsgClientReverse, deviceMessage_.isReverseMirroring);
}

void ConnectListItem::lockEvent() const
{
    sendControl(kMsgClientLock, deviceMessage_.isLock);
}

void ConnectListItem::speakerEvent() const
{
    sendControl(kMsgClientSpeaker, deviceMessage_.speaker);
}

void ConnectListItem::deleteEvent() const
{
    send(kMsgClientRemove, ClientRemovePayload{.client = static_cast<uint64_t>(deviceMessage_.client)}.encode());
}

void ConnectListItem::sendControl(uint16_t type, bool currentFlag) const
{
    send(type, ClientControlPayload{.client = static_cast<uint64_t>(deviceMessage_.client),
                                    .state = currentFlag ? 0u : 1u}
                   .encode());
}

void ConnectListItem::send(uint16_t type, const std::vector<uint8_t>& payload) const
{
    // The row stays as it is either way: the TV's next list tells what became of the request.
    if (!link_->sendType(type, payload.data(), static_cast<int>(payload.size())))
        PLOG("request 0x%x about sender %lld did not reach the TV", type, static_cast<long long>(deviceMessage_.client));
}

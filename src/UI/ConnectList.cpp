#include "UI/ConnectList.h"

#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "UI/ConnectListDelegate.h"
#include "UI/ConnectListView.h"
#include "Utils/LocalizedText.h"
#include "Utils/Log.h"

#include <algorithm>
#include <string>

ConnectList::ConnectList(ConnectListView& view, TCPManager& link) : view_(view), link_(link) {}

void ConnectList::listData(std::vector<DeviceMessage> senders)
{
    connectArray_ = std::move(senders);
    existLockDevice_ = std::ranges::any_of(connectArray_, &DeviceMessage::isLock);
    if (delegate_)
        delegate_->reportConnectNum(connectArray_.size());
    view_.setDeviceCountTitle(LocalizedText::format("STRING_DEVICE_COUNT", {std::to_string(connectArray_.size())}));
    view_.reloadData(*this);
}

std::optional<ConnectListItem> ConnectList::item(size_t position) const
{
    if (position >= connectArray_.size())
        return std::nullopt;
    return ConnectListItem(position, connectArray_[position], existLockDevice_, link_);
}

void ConnectList::clickDivideBtn(bool on)
{
    sendSwitch(kMsgSplitScreen, on);
}

void ConnectList::clickReverseBtn(bool on)
{
    sendSwitch(kMsgReverseSwitch, on);
}

void ConnectList::clickHiddenBtn()
{
    if (delegate_)
        delegate_->hiddenConnectList();
}

void ConnectList::sendSwitch(uint16_t type, bool on)
{
    // The switch's picture follows the TV's report, not this request.
    const std::vector<uint8_t> payload = Int32Payload{.value = on ? 1 : 0}.encode();
    if (!link_.sendType(type, payload.data(), static_cast<int>(payload.size())))
        PLOG("switch 0x%x did not reach the TV", type);
}

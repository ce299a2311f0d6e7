#pragma once

#include "Socket/DeviceMessage.h"
#include "UI/ConnectListItem.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

class ConnectListDelegate;
class ConnectListView;
class TCPManager;

// The connected-senders panel: the TV's list of senders, one row each, and the two switches that act on
// every sender at once (split screen, reverse control). It holds only the last list received and never
// changes a row by itself: it sends the request and waits for the TV's next list. Main thread.
class ConnectList {
public:
    // The view and the link outlive the panel.
    ConnectList(ConnectListView& view, TCPManager& link);
    ConnectList(const ConnectList&) = delete;
    ConnectList& operator=(const ConnectList&) = delete;

    // Not retained; nullptr: nobody is told.
    void setDelegate(ConnectListDelegate* delegate) { delegate_ = delegate; }

    // The TV's list, in its order: kept, reported to the delegate, counted in the title, and every row
    // rebuilt.
    void listData(std::vector<DeviceMessage> senders);

    // The rows, as the view asks for them.
    size_t numberOfItems() const { return connectArray_.size(); }
    // The row at that position; nullopt past the last.
    std::optional<ConnectListItem> item(size_t position) const;

    bool existLockDevice() const { return existLockDevice_; }

    // The switches, after the click toggled them: kMsgSplitScreen or kMsgReverseSwitch with 1 when now on.
    void clickDivideBtn(bool on);
    void clickReverseBtn(bool on);
    // The hide button.
    void clickHiddenBtn();

private:
    void sendSwitch(uint16_t type, bool on);

    ConnectListView& view_;
    TCPManager& link_;
    ConnectListDelegate* delegate_ = nullptr;
    std::vector<DeviceMessage> connectArray_;
    bool existLockDevice_ = false;
};

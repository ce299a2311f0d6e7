#pragma once

#include "Socket/DeviceMessage.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TCPManager;

// One row of the connected-senders panel: what it shows of its sender, and the requests its buttons
// send to the TV about that sender. The row never changes by itself: each request's new state comes
// from the record as last received, and the TV's next list brings the row anew. Main thread.
class ConnectListItem {
public:
    enum class TextColor { Blue, White };

    // A button's picture by name and whether it takes clicks.
    struct Button {
        std::string image;
        bool enabled = true;

        bool operator==(const Button&) const = default;
    };

    // The kinds of sender that cannot be given reverse control, compared exactly (letter case counts).
    static constexpr std::array<std::string_view, 5> kModesWithoutReverseControl{"AirPlay", "Dlna", "GoogleCast",
                                                                                 "Miracast", "Webcast"};

    // The row at that position (from 0) of a list in which a locked sender exists or not; requests go
    // through the link, which outlives the row.
    ConnectListItem(size_t position, DeviceMessage deviceMessage, bool existLockDevice, TCPManager& link);

    // `numLabel`: the position from 1.
    std::string numLabel() const { return std::to_string(number_); }
    const std::string& nameLabel() const { return deviceMessage_.name; }
    // The colour of `numLabel` and `nameLabel`: blue while the sender casts.
    TextColor textColor() const { return textColor_; }
    const Button& lockBtn() const { return lockBtn_; }
    const Button& speakerBtn() const { return speakerBtn_; }
    const Button& mirrorBtn() const { return mirrorBtn_; }
    const Button& reverseBtn() const { return reverseBtn_; }
    const DeviceMessage& deviceMessage() const { return deviceMessage_; }

    // The buttons' requests: kMsgClientMirror, kMsgClientReverse, kMsgClientLock, kMsgClientSpeaker with
    // the flag's opposite, and kMsgClientRemove.
    void mirrorScreen() const;
    void reverseScreen() const;
    void lockEvent() const;
    void speakerEvent() const;
    void deleteEvent() const;

private:
    void initUI(bool existLockDevice);
    void setNameLabelText();
    void setLockBtnImage();
    void setSpeakerBtnImage();
    void setMirrorBtnImage(bool existLockDevice);
    void setReverseBtnImage();
    void sendControl(uint16_t type, bool currentFlag) const;
    void send(uint16_t type, const std::vector<uint8_t>& payload) const;

    size_t number_;
    DeviceMessage deviceMessage_;
    TCPManager* link_;
    TextColor textColor_ = TextColor::White;
    Button lockBtn_;
    Button speakerBtn_;
    Button mirrorBtn_;
    Button reverseBtn_;
};

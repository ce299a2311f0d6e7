#include "Session/SendersController.h"

#include "Socket/DeviceMessage.h"
#include "Socket/LocalSystemInfo.h"
#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Session/ConnectionController.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"
#include "Rozi/RoziRelay.h"
#include "Utils/Log.h"

#include <cassert>

namespace {

constexpr SendersPanel kFolded{.listShown = false, .ballShown = true, .countShown = true};
constexpr SendersPanel kOpen{.listShown = true, .ballShown = false, .countShown = false};
constexpr int64_t kSplitScreenButton = 2;
constexpr int64_t kReverseSwitchButton = 3;
constexpr int64_t kVersionToastPosition = 1;
constexpr float kVersionToastSeconds = 3.0f;

} // namespace

SendersController::SendersController(MainWindowController& owner)
    : owner_(owner), connectList_(owner.view(), owner.link())
{
    connectList_.setDelegate(this);
}

SendersController::~SendersController()
{
    assert(mainThread_.holds());
    connectList_.setDelegate(nullptr);
}

void SendersController::connectListMessage(const std::string& json)
{
    guard_.post([this, json] { showSendersList(json); });
}

void SendersController::changeButtonName(int64_t index, int status)
{
    guard_.post([this, index, status] { showButtonStatus(index, status); });
}

void SendersController::activeVersionHandler(int level)
{
    guard_.post([this, level] { takeEditionLevel(level); });
}

void SendersController::isSpeakerHandler(bool speaker)
{
    guard_.post([this, speaker] { takeSpeakerRole(speaker); });
}

void SendersController::showSendersList(const std::string& json)
{
    assert(mainThread_.holds());
    if (!owner_.state().isSpeaker)
        return;
    // Text that is not a JSON array lists nobody; entries that are not objects are left out.
    size_t entries = 0;
    const auto senders = DeviceMessage::listFromJson(json, &entries);
    if (!senders)
        PLOG("senders list that is not a JSON array taken as empty");
    else if (entries > DeviceMessage::kMaxSenders)
        PLOG("senders list of %zu entries: the panel shows the first %zu", entries, DeviceMessage::kMaxSenders);
    connectList_.listData(senders.value_or(std::vector<DeviceMessage>{}));
    if (!panel_.listShown)
        showPanel(kFolded);
}

void SendersController::showButtonStatus(int64_t index, int status)
{
    if (index == kSplitScreenButton)
        owner_.view().showSendersSwitch(SendersSwitch::SplitScreen, status != 0);
    else if (index == kReverseSwitchButton)
        owner_.view().showSendersSwitch(SendersSwitch::ReverseControl, status != 0);
}

void SendersController::takeEditionLevel(int level)
{
    PLOG("active version - %d", level);
    owner_.state().activeVersion = level;
    if (level != kLevelWithoutCasting)
        return;
    // The end of the link brings onDisConnect, which says nothing more: this toast says why.
    owner_.connection().releaseLink();
    owner_.view().showToastTip(LocalizedText::text("STRING_VERSION_LOW"), false, kVersionToastPosition,
                               kVersionToastSeconds);
}

void SendersController::takeSpeakerRole(bool speaker)
{
    SessionState& state = owner_.state();
    if (speaker == state.isSpeaker)
        return;
    state.isSpeaker = speaker;
    if (speaker) {
        owner_.relay().presenterChanged(true);
        showPanel({.listShown = panel_.listShown, .ballShown = true, .countShown = panel_.countShown});
        return;
    }
    owner_.relay().presenterChanged(false);
    showPanel({.listShown = false, .ballShown = false, .countShown = panel_.countShown});
}

void SendersController::clickBallbtn()
{
    showPanel(kOpen);
}

void SendersController::hiddenConnectList()
{
    showPanel(kFolded);
}

void SendersController::clickBesideConnectList()
{
    if (panel_.listShown)
        showPanel(kFolded);
}

void SendersController::reportConnectNum(size_t count)
{
    owner_.view().showSendersCount(count);
}

void SendersController::showChangeDeviceWindow()
{
    owner_.view().showDeviceNameWindow(LocalSystemInfo::loginName());
}

void SendersController::cancelDeviceNameButton()
{
    owner_.view().hideDeviceNameWindow();
}

void SendersController::inputDeviceNameButton(const std::string& name)
{
    if (!name.empty()) {
        // Not kept: the next client information carries the login name again. The window stays.
        owner_.link().sendClientInfo(name);
        return;
    }
    owner_.view().showAlert(LocalizedText::text("STRING_TIP"), LocalizedText::text("The input cannot be empty!"),
                            [&view = owner_.view()] { view.hideDeviceNameWindow(); });
}

void SendersController::refreshTvDevicesName()
{
    if (const auto tv = owner_.connection().checkDeviceViewController().getIPScreenProjection(owner_.state().tvDeviceIp))
        owner_.view().showTvName(tv->name);
}

void SendersController::showPanel(SendersPanel panel)
{
    panel_ = panel;
    owner_.view().showSendersPanel(panel_);
}

#include "Session/ConnectionController.h"

#include "Socket/MessageType.h"
#include "Socket/TCPManager.h"
#include "Session/CastingCode.h"
#include "Session/CastingController.h"
#include "Session/DiscoveryDriver.h"
#include "Utils/LocalizedText.h"
#include "Session/MainWindowController.h"
#include "Session/MainWindowView.h"
#include "Rozi/RoziRelay.h"
#include "Session/FileWindowController.h"
#include "Session/TvScreenController.h"
#include "Utils/Log.h"
#include "Utils/PUtils.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int64_t kFailToastPosition = 1;
constexpr float kFailToastSeconds = 3.0f;
// Long enough to read and act on; its close button ends it sooner.
constexpr float kLinkLostToastSeconds = 8.0f;

std::string text(std::string_view key)
{
    return LocalizedText::text(key);
}

// The toast of an end nobody here asked for: what happened and what to do.
std::string_view linkEndToast(LinkEndReason reason)
{
    switch (reason) {
    case LinkEndReason::TvClosed:
        return "STRING_LINK_TV_GONE";
    case LinkEndReason::NetworkLost:
        return "STRING_LINK_NETWORK_GONE";
    case LinkEndReason::Released:
        break;
    }
    // Released on this side for a cause other than the user: the TV asked this computer to leave,
    // or the capture of a cast failed.
    return "STRING_LINK_LOST";
}

const char* printable(const std::optional<std::string>& address)
{
    return address ? address->c_str() : "(none)";
}

} // namespace

ConnectionController::ConnectionController(MainWindowController& owner)
    : owner_(owner), devices_([this] { releaseLink(); })
{
    devices_.setReloadHandler([this] { owner_.view().showDevices(devices_.devices()); });
}

ConnectionController::~ConnectionController()
{
    discovery_.reset();
    devices_.setDelegate(nullptr);
}

void ConnectionController::windowDidLoad()
{
    const auto& options = owner_.services().discovery;
    if (!options || discovery_)
        return;
    discovery_ = std::make_unique<DiscoveryDriver>(*options, devices_, [this] {
        // findDevicesSerialQueue: the page follows what the tick found.
        mainQueue_.post([this] { applyPageRule(); });
    });
    discovery_->start();
}

void ConnectionController::applyPageRule()
{
    const SessionState& state = owner_.state();
    owner_.view().showPage(choosePage(findDeviceCount(), state.ConnectWithTv, state.inWindowInfoView));
}

void ConnectionController::inputIPTextField(const std::string& input)
{
    if (lastInputTextField_ == input) {
        PLOG("%s is submitted already", input.c_str());
        return;
    }
    lastInputTextField_ = input;
    ConnectionView& view = owner_.view();
    SessionState& state = owner_.state();
    view.showInputError(std::nullopt);
    if (CastingCode::isCastingCode(input)) {
        state.connectMode = ConnectMode::CastingCode;
        PLOG("input code = %s", input.c_str());
        connectByCode(input);
    } else if (PUtils::isValidIPAddress(input)) {
        state.connectMode = ConnectMode::TypedAddress;
        state.tvDeviceIp = input;
        connectTo(input);
        PLOG("input ip = %s\n", input.c_str());
    } else {
        // Neither an address nor six letters and digits: nothing is connected.
        view.showInputError(text("STRIGN_IP_FORMAT_ERROR"));
    }
}

void ConnectionController::connectByCode(const std::string& code)
{
    SessionState& state = owner_.state();
    codeAddresses_.clear();
    if (const auto tv = devices_.getscreenCodeProjection(code)) {
        // The code is known already: casting will not ask for it.
        setCastingCodeField(code);
        state.tvDeviceIp = tv->ipAddr;
        connectTo(tv->ipAddr);
        return;
    }
    for (const std::string& local : owner_.services().localAddresses()) {
        const auto address = CastingCode::decodeIpFromCode(code, CastingCode::firstOctet(local));
        if (address && std::ranges::find(codeAddresses_, *address) == codeAddresses_.end())
            codeAddresses_.push_back(*address);
    }
    if (codeAddresses_.empty()) {
        PLOG_WARNING("no local IPv4 interface to decode the casting code with");
        reportConnectFailure();
        return;
    }
    tryNextCodeAddress();
}

void ConnectionController::tryNextCodeAddress()
{
    std::string address = std::move(codeAddresses_.front());
    codeAddresses_.pop_front();
    owner_.state().tvDeviceIp = address;
    PLOG("code to ip: %s", address.c_str());
    connectTo(address);
}

void ConnectionController::connectDevice(const std::string& ip)
{
    codeAddresses_.clear();
    connectTo(ip);
}

void ConnectionController::connectTo(const std::string& address)
{
    attemptAddress_ = address;
    // Connecting elsewhere ends the current link on purpose: its end needs no toast.
    if (owner_.state().ConnectWithTv)
        linkEndAsked_ = true;
    owner_.view().showConnecting(true);
    // The answer comes as onConnectSuccess or onConnectFail; false: that TV is connected already.
    if (!owner_.link().connectToHost(address, owner_.services().tvPort)) {
        codeAddresses_.clear();
        owner_.view().showConnecting(false);
    }
}

void ConnectionController::cancelConnect()
{
    if (!attemptAddress_ || owner_.state().ConnectWithTv)
        return;
    PLOG("the connect to %s is cancelled", attemptAddress_->c_str());
    codeAddresses_.clear();
    attemptAddress_.reset();
    lastInputTextField_.reset();
    SessionState& state = owner_.state();
    state.connectMode = ConnectMode::PickedFromList;
    state.tvDeviceIp.reset();
    // Supersedes the attempt, which then reports nothing.
    owner_.link().tcpClientRelease();
    owner_.view().showConnecting(false);
}

void ConnectionController::clickDisConnectBtn()
{
    owner_.view().hidePage(MainWindowPage::Connected);
    releaseLink();
    if (discovery_)
        discovery_->findDevice();
}

void ConnectionController::releaseLink()
{
    linkEndAsked_ = true;
    owner_.link().tcpClientRelease();
}

void ConnectionController::onConnectSuccess(const std::string& name)
{
    mainQueue_.post([this, name] { connectSucceeded(name); });
}

void ConnectionController::onConnectFail()
{
    mainQueue_.post([this] { connectFailed(); });
}

void ConnectionController::onDisConnect(LinkEndReason reason)
{
    mainQueue_.post([this, reason] { linkEnded(reason); });
}

void ConnectionController::onReceiveScreenCode(const std::string& code)
{
    mainQueue_.post([this, code] { screenCodeReceived(code); });
}

void ConnectionController::connectSucceeded(const std::string& name)
{
    SessionState& state = owner_.state();
    ConnectionView& view = owner_.view();
    state.tvDeviceIp = state.connectMode == ConnectMode::PickedFromList || !attemptAddress_
                           ? owner_.link().getConnectTvIp()
                           : *attemptAddress_;
    if (state.connectMode == ConnectMode::CastingCode)
        setCastingCodeField(lastInputTextField_.value_or(""));
    state.connectMode = ConnectMode::PickedFromList;
    view.showTvName(name);
    lastInputTextField_.reset();
    attemptAddress_.reset();
    codeAddresses_.clear();
    // A release asked for before this link says nothing about its end.
    linkEndAsked_ = false;
    view.showConnecting(false);

    view.showPage(MainWindowPage::Connected);
    owner_.fileWindow().clearSharedFolder();
    state.ConnectWithTv = true;
    owner_.relay().setConnectWithTv(true);
    view.showSessionControlsAtRest();
    devices_.tvConnectSuccess(state.tvDeviceIp);
    owner_.link().sendType(kMsgSpeakerStatus, nullptr, 0);
    view.showTvAddress(*state.tvDeviceIp);
    PLOG("%s connect success", state.tvDeviceIp->c_str());
    view.showHelpForConnection(true);
}

void ConnectionController::connectFailed()
{
    if (owner_.state().connectMode == ConnectMode::CastingCode && !codeAddresses_.empty()) {
        tryNextCodeAddress();
        return;
    }
    reportConnectFailure();
}

void ConnectionController::reportConnectFailure()
{
    SessionState& state = owner_.state();
    ConnectionView& view = owner_.view();
    // First, so the tip of the failure below replaces that of the attempt.
    view.showConnecting(false);
    switch (state.connectMode) {
    case ConnectMode::TypedAddress:
        view.showInputError(text("STRING_CANNOT_SEARCH_IP"));
        break;
    case ConnectMode::CastingCode:
        view.showInputError(text("STRING_CANNOT_SEARCH_CODE"));
        break;
    case ConnectMode::PickedFromList:
        view.showInputError(std::nullopt);
        break;
    }
    owner_.relay().setConnectWithTv(false);
    owner_.view().showToastTip(text("STRING_CONNECT_FAIL"), false, kFailToastPosition, kFailToastSeconds);

    state.ConnectWithTv = false;
    // As at a link's end: no TV's screen is shown without one.
    owner_.viewing().endSession(SessionEnd::Link);
    // The window page casts to this TV only: without a link it gives way to the page rule.
    state.inWindowInfoView = false;
    view.showSessionControlsAtRest();
    state.screenProjectionCode.reset();
    state.tvDeviceIp = attemptAddress_ ? *attemptAddress_ : owner_.link().getConnectTvIp();
    devices_.tvConnectFail(state.tvDeviceIp);
    PLOG("%s", LocalizedText::format("STRING_LOG_CONNECT_FAIL", {*state.tvDeviceIp, std::to_string(static_cast<long>(state.connectMode))}).c_str());

    view.showConnectInfo(text("STRING_NO_CONNECTED"));
    state.tvDeviceIp.reset();
    owner_.link().setAesKey(nullptr);
    state.connectMode = ConnectMode::PickedFromList;
    view.showHelpForConnection(false);
    attemptAddress_.reset();
    codeAddresses_.clear();
    // The same text may be submitted again: a retry must not look like a frozen button.
    lastInputTextField_.reset();
}

void ConnectionController::linkEnded(LinkEndReason reason)
{
    SessionState& state = owner_.state();
    ConnectionView& view = owner_.view();
    const bool asked = std::exchange(linkEndAsked_, false);
    if (!state.ConnectWithTv) {
        // A link whose TV never answered: its failure was reported, and an attempt that followed
        // must keep its state.
        PLOG("a link that never came up has ended");
        return;
    }
    owner_.endSession(SessionEnd::Link);
    owner_.link().setAesKey(nullptr);

    state.ConnectWithTv = false;
    // The window page casts to this TV only: without a link it gives way to the page rule.
    state.inWindowInfoView = false;
    view.showSessionControlsAtRest();
    state.screenProjectionCode.reset();
    devices_.tvDisConnect(state.tvDeviceIp);
    PLOG("%s disconnect", printable(state.tvDeviceIp));

    view.showConnectInfo(text("STRING_NO_CONNECTED"));
    state.tvDeviceIp.reset();
    setCastingCodeField("");
    view.showHelpForConnection(false);
    if (!asked)
        owner_.view().showToastTip(text(linkEndToast(reason)), true, kFailToastPosition, kLinkLostToastSeconds);
    // At once, not at discovery's next tick: until then the page would still offer the TV's controls.
    applyPageRule();
}

void ConnectionController::screenCodeReceived(const std::string& code)
{
    SessionState& state = owner_.state();
    state.screenProjectionCode = code;
    if (!code.empty())
        PLOG("%s", LocalizedText::format("STRING_LOG_SCREEN_CODE", {code}).c_str());
    else
        setCastingCodeField("");
}

void ConnectionController::setCastingCodeField(const std::string& text)
{
    owner_.state().inputScreenProjectionCode = text;
    owner_.view().setCastingCodeText(text);
}


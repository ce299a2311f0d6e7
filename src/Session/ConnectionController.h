#pragma once

#include "UI/CheckDeviceViewController.h"
#include "Platform/MainQueueGuard.h"
#include "Socket/VXTcpConnectDelegate.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>

class DiscoveryDriver;
class MainWindowController;

// Finding and connecting to a TV: discovery, the page rule, typed addresses and casting codes, and the
// link's connect, failure and disconnect reports. Main thread: the link's reports (TvConnectionDelegate,
// on the TCPManager queue or the main queue) move to the main queue first; discovery's ticks run on
// their own queue and hand the page rule to the main queue.
//
// A casting code that no listed TV announces is decoded once per local interface; those addresses
// are tried one after another, each only once the one before has failed, so the first that connects
// ends the search and only the last failure is reported.
class ConnectionController final : public TvConnectionDelegate {
public:
    explicit ConnectionController(MainWindowController& owner);
    // Stops discovery, waiting for a tick under way.
    ~ConnectionController() override;
    ConnectionController(const ConnectionController&) = delete;
    ConnectionController& operator=(const ConnectionController&) = delete;

    // Starts discovery, when the session has any.
    void windowDidLoad();
    CheckDeviceViewController& checkDeviceViewController() { return devices_; }
    size_t findDeviceCount() const { return devices_.findDeviceCount(); }
    // Shows the page that the TVs found and the session's state call for.
    void applyPageRule();

    // The address field's text, submitted: an IPv4 address or a casting code.
    void inputIPTextField(const std::string& text);
    // A TV picked from the device list.
    void connectDevice(const std::string& ip);
    void clickDisConnectBtn();
    // Escape during an attempt: it ends without a report, and the field takes input again.
    void cancelConnect();
    // Ends the link because this side chose to (the disconnect button, another TV picked, a TV that
    // takes no cast): its end shows no toast. Every other end says what happened, by its reason.
    void releaseLink();

    // TvConnectionDelegate: the TCPManager queue (the failure: the main queue); each moves to the main
    // queue.
    void onConnectSuccess(const std::string& name) override;
    void onConnectFail() override;
    void onDisConnect(LinkEndReason reason) override;
    void onReceiveScreenCode(const std::string& code) override;

private:
    // The link's reports, on the main thread.
    void connectSucceeded(const std::string& name);
    void connectFailed();
    void linkEnded(LinkEndReason reason);
    void screenCodeReceived(const std::string& code);
    void connectByCode(const std::string& code);
    void tryNextCodeAddress();
    void connectTo(const std::string& address);
    // The attempt has failed for good: tips, toast and the state of no link.
    void reportConnectFailure();
    // The casting-code field's text, in the session and in the window.
    void setCastingCodeField(const std::string& text);

    MainWindowController& owner_;
    MainQueueGuard mainQueue_;
    // The last text submitted in the address field: the same text is tried once while its attempt
    // runs, again after it failed, changed, or once a link came up.
    std::optional<std::string> lastInputTextField_;
    // The addresses decoded from a casting code still to try.
    std::deque<std::string> codeAddresses_;
    // The address of the attempt under way: it names the TV that failed, and survives the report
    // of an earlier link's end that comes in meanwhile.
    std::optional<std::string> attemptAddress_;
    // Set by releaseLink until the link's end is reported.
    bool linkEndAsked_ = false;
    CheckDeviceViewController devices_;
    // Declared last: stopped before the list it feeds goes.
    std::unique_ptr<DiscoveryDriver> discovery_;
};

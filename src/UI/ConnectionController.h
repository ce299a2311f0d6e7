#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MainWindowController;

// Finding and connecting to a TV: discovery, the page rule, typed addresses and casting codes, and the
// link's connect, failure and disconnect reports. Main thread.
class ConnectionController {
public:
    explicit ConnectionController(MainWindowController& owner);
    ~ConnectionController();
    ConnectionController(const ConnectionController&) = delete;
    ConnectionController& operator=(const ConnectionController&) = delete;

    void windowDidLoad();
    void onConnectSuccess(const std::string& name);
    void onConnectFail();
    void onDisConnect();
    void onReceiveScreenCode(const std::string& code);

private:
    MainWindowController& owner_;
};

#pragma once

#include <string>

// Receives what discovery hears; every call arrives on the thread that runs the discovery pass.
class FindTvDevicesDelegate {
public:
    virtual ~FindTvDevicesDelegate() = default;

    // One TV's reply as "<sender's dotted IPv4 address>&<reply text>".
    virtual void findTvDevicesInfo(const std::string& text) = 0;
    // One socket's replies of this pass are over.
    virtual void refreshTvDevicesList() = 0;
    // The network is gone; discovery itself never reports this.
    virtual void unreachableNetwork() = 0;
};

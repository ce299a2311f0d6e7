#pragma once

// Told by the device list after each discovery tick, on the main thread, so the connected TV's name
// can follow a rename.
class TvDevicesNameDelegate {
public:
    virtual ~TvDevicesNameDelegate() = default;

    virtual void refreshTvDevicesName() = 0;
};

#pragma once

// What the senders panel, the device name and the TV's capabilities show in the main window. Main thread.
class SendersView {
public:
    virtual ~SendersView() = default;
};

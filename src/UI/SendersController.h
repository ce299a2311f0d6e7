#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MainWindowController;

// The connected-senders panel, this computer's name as the TV lists it, and the TV's capability reports
// (edition level, speaker role). Main thread.
class SendersController {
public:
    explicit SendersController(MainWindowController& owner);
    ~SendersController();
    SendersController(const SendersController&) = delete;
    SendersController& operator=(const SendersController&) = delete;

    void connectListMessage(const std::string& json);
    void changeButtonName(int64_t index, int status);
    void activeVersionHandler(int level);
    void isSpeakerHandler(bool speaker);

private:
    MainWindowController& owner_;
};

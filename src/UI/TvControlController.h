#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MainWindowController;

// The TV driving this computer while it casts: touches become mouse events, TV keys key presses.
// Main thread.
class TvControlController {
public:
    explicit TvControlController(MainWindowController& owner);
    ~TvControlController();
    TvControlController(const TvControlController&) = delete;
    TvControlController& operator=(const TvControlController&) = delete;

    void onTvcontrolReceived(int type, const std::vector<uint8_t>& payload);
    void tvKeyHandle(int keyCode);

private:
    MainWindowController& owner_;
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

class MainWindowController;

// Casting the whole screen: the casting-code check, the exchange that fixes the cast's size with the
// TV, capture and sound, the media callbacks, stopping, and the TV's requests. Main thread, except the
// media callbacks, which read SessionState's atomic flags only.
class CastingController {
public:
    explicit CastingController(MainWindowController& owner);
    ~CastingController();
    CastingController(const CastingController&) = delete;
    CastingController& operator=(const CastingController&) = delete;

    void onVideoQuality(int level, int width, int height, int fps);
    void tvRequestMirror();
    void tvIntErruptMirror();
    void tvMirrorLock();
    void supportChangeQuality(bool support);
    void stopScreenFunction();
    // The link has ended: capture stops, and no kMsgCastStop is sent.
    void stopForDisconnect();

private:
    MainWindowController& owner_;
};

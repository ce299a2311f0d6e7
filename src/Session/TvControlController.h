#pragma once

#include "Platform/MainQueueGuard.h"
#include "Session/InputPosting.h"
#include "Session/SessionEnd.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "Utils/ThreadAffinity.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class MainWindowController;

// The TV driving this computer while it casts its screen: touches become mouse clicks, drags and
// right clicks, three TV keys become key presses. Nothing is posted unless a cast captures, and touches
// only while a screen (not window) cast does; points are clamped to the cast display.
//
// Threads: main thread only (asserted). The link's touches (TvTouchDelegate, on the TCPManager queue)
// and keys (TvKeyDelegate, on the receive thread) move to the main queue first, so the touch history
// needs no lock.
class TvControlController final : public TvTouchDelegate, public TvKeyDelegate {
public:
    // Two touch-downs within this time and distance (raw TV units, either axis) make a double click.
    static constexpr std::chrono::milliseconds kDoubleClickTime{350};
    static constexpr int64_t kDoubleClickDistance = 30;
    // Key events carry only the flag that keeps them from being coalesced: no modifier.
    static constexpr uint64_t kKeyFlags = 0x100;

    explicit TvControlController(MainWindowController& owner);
    ~TvControlController() override;
    TvControlController(const TvControlController&) = delete;
    TvControlController& operator=(const TvControlController&) = delete;

    // A filtered touch (kMsgTouchDown, kMsgTouchMove, kMsgTouchUp, kPointerLongPress) in the cast
    // video's pixels, copied; shorter than a touch: dropped.
    void onTvcontrolReceived(int type, const uint8_t* data, int64_t len) override;
    void tvKeyHandle(int keyCode) override;

    // The end-of-session step for a cast (the link's end comes with one): the left button the TV
    // pressed and has not released is released where it was last moved (the TV's own release is
    // dropped once the cast is gone), and the touch history is forgotten.
    void endSession(SessionEnd end);

    // The key the TV's key code stands for (left, right, Escape), as a Mac virtual key code; nullopt
    // for any other code.
    static std::optional<uint16_t> macKeyCode(int tvKeyCode);

private:
    struct Point {
        double x = 0;
        double y = 0;
    };

    // The TV's touch and key, on the main thread.
    void touched(int type, const std::vector<uint8_t>& payload);
    void keyPressed(int keyCode);
    // The TV's (x, y) on the X screen, clamped to the cast display; nullopt while no screen cast runs.
    std::optional<Point> map(int32_t x, int32_t y) const;
    bool isDoubleClick(int32_t x, int32_t y, double nowMs) const;
    void post(uint32_t type, Point point, int64_t clickCount);
    static double nowMs();

    MainWindowController& owner_;
    const InputPosting input_;
    ThreadAffinity mainThread_;
    // The previous touch, raw, and when it came (ms); none before the first.
    int32_t previousX_ = 0;
    int32_t previousY_ = 0;
    std::optional<double> previousTimeMs_;
    // Where the left button the TV pressed is held; none while it is up.
    std::optional<Point> leftHeldAt_;
    MainQueueGuard guard_;
};

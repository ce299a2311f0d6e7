#pragma once

#include "Media/EncoderH264/ScreenType.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class windowInfo;

// How the current connection attempt was asked for.
enum class ConnectMode : int64_t { PickedFromList = 0, TypedAddress = 1, CastingCode = 2 };

// The session state that more than one concern of MainWindowController reads or writes. Touched on the
// main queue only (MainWindowController hops there before it forwards anything); the few flags the
// media callbacks read on their own threads are atomics.
struct SessionState {
    // --- Connection.
    bool ConnectWithTv = false;
    std::optional<std::string> tvDeviceIp;
    ConnectMode connectMode = ConnectMode::PickedFromList;
    // The TV's casting code; nullopt until the TV sent one (an empty code needs no typing).
    std::optional<std::string> screenProjectionCode;
    // The text of the casting-code field: typed by the user, or filled when the code is already known.
    std::string inputScreenProjectionCode;

    // --- The TV's capabilities; kept across links, changed only by the TV's messages.
    int32_t activeVersion = 0;
    bool isSpeaker = false;

    // --- Casting (whether a cast runs is CastingController's state). The sound switch, read by the
    // sound callback on its thread.
    std::atomic<bool> audioSendFlag{true};
    // The size and frame rate the TV last answered (0 from each start until its answer), or the
    // user's quality choice while no cast runs.
    int32_t screenWidth = 1920;
    int32_t screenHeight = 1080;
    int32_t screenFps = 0;
    ScreenType screenType = kScreenTypeWholeScreen;
    // Source display pixels per cast pixel, set when capture starts; the TV's touches are scaled by them.
    float tvTounchRatioX = 0;
    float tvTounchRatioY = 0;
    // The extended screen mirrors the main one (its touches then need no offset).
    bool isMirrorStatus = false;
    // The window a window cast shows (screenType 2); nullptr when none is chosen.
    std::shared_ptr<::windowInfo> windowInfo;
    // The window page is shown.
    bool inWindowInfoView = false;
    // The TV's screen is being viewed (the mirror button is on).
    bool viewingTvScreen = false;
};

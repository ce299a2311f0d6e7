#pragma once

#include "UI/SelectedQualityIndex.h"
#include "UI/ShowChangeDeviceNameDelegate.h"
#include "UI/SoundSwitchStateDelegate.h"
#include "UI/UserChangeVideoQualityDelegate.h"

#include <string>
#include <vector>

// The settings popover's three delegates in one, recording each call as a line; a quality change
// records the index it finds, which is what the session applies.
class RecordingSettingsDelegates final : public SoundSwitchStateDelegate,
                                         public ShowChangeDeviceNameDelegate,
                                         public UserChangeVideoQualityDelegate {
public:
    std::vector<std::string> calls;

    void reportSoundSwitchState(bool on) override { calls.push_back(on ? "sound YES" : "sound NO"); }
    void showChangeDeviceWindow() override { calls.push_back("showChangeDeviceWindow"); }
    void userChangeVideoQuality() override
    {
        calls.push_back("userChangeVideoQuality " + std::to_string(gSelectedQualityIndex.load()));
    }
};

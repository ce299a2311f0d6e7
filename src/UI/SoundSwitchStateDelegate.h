#pragma once

// Told when the user turns the sound of the cast on or off in the settings popover. Main thread.
class SoundSwitchStateDelegate {
public:
    virtual ~SoundSwitchStateDelegate() = default;
    virtual void reportSoundSwitchState(bool on) = 0;
};

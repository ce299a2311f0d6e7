#pragma once

// The TV's edition level and the speaker role of this computer. Called on the transport's receive
// thread.
class ActiveVersionsDelegate {
public:
    virtual ~ActiveVersionsDelegate() = default;

    virtual void activeVersionHandler(int level) = 0;
    virtual void isSpeakerHandler(bool speaker) = 0;
};

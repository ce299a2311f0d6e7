#pragma once

#include "UI/TvMirror/DisplayGeometry.h"

#include <cstdint>
#include <functional>
#include <vector>

class DisplayWindowView;

// The TV-screen window's input as messages to the TV: touches (or annotation strokes while annotation
// mode is on), scrolls, the annotation commands and the Home key. The caller reads the control status
// once per event and passes it in; touches, scrolls and switching annotation on go out only while the
// TV has granted control. Main thread.
class DisplayInputForwarder {
public:
    // Sends one message to the TV; only queues it.
    using Sender = std::function<bool(int type, const uint8_t* data, int len)>;
    enum class TouchPhase { Down, Move, Up };
    // Factors on each axis, from content points to the units the TV was told.
    struct Scales {
        float x = 1.0f;
        float y = 1.0f;
    };

    // The Home key of the TV, as kMsgKeyCode carries it.
    static constexpr int32_t kHomeKeyCode = 0xF704;

    // The view outlives the forwarder.
    DisplayInputForwarder(Sender sender, DisplayWindowView& view);

    // One touch at a content point (origin lower left, y upwards); the TV's origin is top left.
    void touch(TouchPhase phase, DisplayPoint point, Scales scales, double contentHeight, bool controlGranted);
    void scroll(double dx, double dy, Scales scrollScales, bool controlGranted);

    // Without control nothing is sent and the button, already toggled by the click, shows off again, so
    // it never shows a mode the TV was not told of.
    void startAnnotation(bool controlGranted);
    // Always sends annotation mode off, also when it was not on: the TV may still think it is.
    void stopAnnotation();
    bool annotationMode() const { return annotationMode_; }

    // Not gated: their buttons are hidden whenever control is withdrawn.
    void revokeEvent();
    void cleanAnnotationEvent();
    void goHomeEvent();

    // Any other message of the window (its size); a refused one is logged.
    void send(int type, const std::vector<uint8_t>& payload);

private:
    void setAnnotationMode(bool on);

    const Sender sender_;
    DisplayWindowView& view_;
    bool annotationMode_ = false;
};

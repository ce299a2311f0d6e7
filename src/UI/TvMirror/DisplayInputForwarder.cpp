#include "UI/TvMirror/DisplayInputForwarder.h"

#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Socket/ScrollPayload.h"
#include "Socket/TouchPayload.h"
#include "UI/TvMirror/DisplayWindowView.h"
#include "Utils/Log.h"

#include <utility>

namespace {

int touchType(DisplayInputForwarder::TouchPhase phase, bool annotation)
{
    using Phase = DisplayInputForwarder::TouchPhase;
    switch (phase) {
    case Phase::Down:
        return annotation ? kMsgAnnotationDown : kMsgTouchDown;
    case Phase::Move:
        return annotation ? kMsgAnnotationMove : kMsgTouchMove;
    case Phase::Up:
        break;
    }
    return annotation ? kMsgAnnotationUp : kMsgTouchUp;
}

} // namespace

DisplayInputForwarder::DisplayInputForwarder(Sender sender, DisplayWindowView& view)
    : sender_(std::move(sender)), view_(view)
{
}

void DisplayInputForwarder::touch(TouchPhase phase, DisplayPoint point, Scales scales, double contentHeight,
                                  bool controlGranted)
{
    if (!controlGranted)
        return;
    const TouchPayload payload{
        .x = DisplayGeometry::saturatingInt32(static_cast<double>(scales.x) * point.x),
        .y = DisplayGeometry::saturatingInt32(static_cast<double>(scales.y) * (contentHeight - point.y)),
    };
    send(touchType(phase, annotationMode_), payload.encode());
}

void DisplayInputForwarder::scroll(double dx, double dy, Scales scrollScales, bool controlGranted)
{
    if (!controlGranted)
        return;
    const ScrollPayload payload{
        .horizontal = DisplayGeometry::saturatingInt32(static_cast<double>(scrollScales.x) * dx),
        .vertical = DisplayGeometry::saturatingInt32(static_cast<double>(scrollScales.y) * dy),
    };
    send(kMsgScroll, payload.encode());
}

void DisplayInputForwarder::startAnnotation(bool controlGranted)
{
    if (controlGranted)
        setAnnotationMode(true);
    else
        view_.showAnnotationState(false);
}

void DisplayInputForwarder::stopAnnotation()
{
    setAnnotationMode(false);
}

void DisplayInputForwarder::revokeEvent()
{
    send(kMsgAnnotationUndo, {});
}

void DisplayInputForwarder::cleanAnnotationEvent()
{
    send(kMsgAnnotationClear, {});
}

void DisplayInputForwarder::goHomeEvent()
{
    send(kMsgKeyCode, Int32Payload{.value = kHomeKeyCode}.encode());
}

void DisplayInputForwarder::setAnnotationMode(bool on)
{
    view_.showAnnotationState(on);
    send(kMsgAnnotationMode, Int32Payload{.value = on ? 1 : 0}.encode());
    annotationMode_ = on;
}

void DisplayInputForwarder::send(int type, const std::vector<uint8_t>& payload)
{
    if (!sender_ || !sender_(type, payload.data(), static_cast<int>(payload.size())))
        PLOG("TV-screen message 0x%x did not reach the TV", type);
}

#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// One piece of input a viewing client sends the TV, decoded from its message: touches and annotation
// strokes (TV coordinates, big-endian), scrolls (big-endian deltas), forwarded keys (HID usages in
// the client's little-endian order), the TV key code (big-endian; 0xF704 is Home), and the annotation
// commands.
struct TvInputEvent {
    enum class Kind {
        TouchDown,
        TouchMove,
        TouchUp,
        AnnotationDown,
        AnnotationMove,
        AnnotationUp,
        Scroll,
        KeyDown,
        KeyUp,
        KeyCode,
        AnnotationMode,
        AnnotationUndo,
        AnnotationClear,
    };

    Kind kind = Kind::TouchDown;
    // Touches and strokes: the point; scrolls: the horizontal and vertical deltas.
    int32_t x = 0;
    int32_t y = 0;
    // Keys: the usage or key code; annotation mode: 1 on, 0 off.
    uint32_t value = 0;

    // The event a message carries; nullopt when the type is no input, or (logged) when the payload
    // is too short for its record.
    static std::optional<TvInputEvent> decode(uint16_t type, std::span<const uint8_t> payload);
    // Whether the type is one of the input messages.
    static bool isInput(uint16_t type);

    // "touch_down", "scroll", "key_code", ...
    const char* name() const;
    // The name and the fields of the kind: "touch_down x=150 y=30", "scroll dx=0 dy=-1",
    // "key_down usage=0x4", "key_code code=0xf704", "annotation_mode on=1", "annotation_undo".
    std::string describe() const;

    bool operator==(const TvInputEvent&) const = default;
};

#include "tv-sim/TvInputEvent.h"

#include "Socket/MessageType.h"
#include "Utils/ByteReader.h"
#include "Utils/Log.h"

#include <array>
#include <cstdio>

namespace {

using Kind = TvInputEvent::Kind;

enum class Layout { Point, Scroll, UsageLittleEndian, Int32BigEndian, Empty };

struct Entry {
    uint16_t type;
    Kind kind;
    Layout layout;
    const char* name;
};

constexpr std::array<Entry, 13> kEntries = {{
    {kMsgTouchDown, Kind::TouchDown, Layout::Point, "touch_down"},
    {kMsgTouchMove, Kind::TouchMove, Layout::Point, "touch_move"},
    {kMsgTouchUp, Kind::TouchUp, Layout::Point, "touch_up"},
    {kMsgAnnotationDown, Kind::AnnotationDown, Layout::Point, "annotation_down"},
    {kMsgAnnotationMove, Kind::AnnotationMove, Layout::Point, "annotation_move"},
    {kMsgAnnotationUp, Kind::AnnotationUp, Layout::Point, "annotation_up"},
    {kMsgScroll, Kind::Scroll, Layout::Scroll, "scroll"},
    {kMsgKeyDown, Kind::KeyDown, Layout::UsageLittleEndian, "key_down"},
    {kMsgKeyUp, Kind::KeyUp, Layout::UsageLittleEndian, "key_up"},
    {kMsgKeyCode, Kind::KeyCode, Layout::Int32BigEndian, "key_code"},
    {kMsgAnnotationMode, Kind::AnnotationMode, Layout::Int32BigEndian, "annotation_mode"},
    {kMsgAnnotationUndo, Kind::AnnotationUndo, Layout::Empty, "annotation_undo"},
    {kMsgAnnotationClear, Kind::AnnotationClear, Layout::Empty, "annotation_clear"},
}};

const Entry* byType(uint16_t type)
{
    for (const auto& entry : kEntries)
        if (entry.type == type)
            return &entry;
    return nullptr;
}

const Entry& byKind(Kind kind)
{
    for (const auto& entry : kEntries)
        if (entry.kind == kind)
            return entry;
    return kEntries[0];
}

// The bytes each layout needs; longer payloads are read up to this.
size_t needed(Layout layout)
{
    switch (layout) {
    case Layout::Point:
        return 16;
    case Layout::Scroll:
        return 8;
    case Layout::UsageLittleEndian:
    case Layout::Int32BigEndian:
        return 4;
    case Layout::Empty:
        break;
    }
    return 0;
}

} // namespace

bool TvInputEvent::isInput(uint16_t type)
{
    return byType(type) != nullptr;
}

std::optional<TvInputEvent> TvInputEvent::decode(uint16_t type, std::span<const uint8_t> payload)
{
    const Entry* entry = byType(type);
    if (!entry)
        return std::nullopt;
    if (payload.size() < needed(entry->layout)) {
        PLOG("tv-sim: dropping a %zu-byte %s: shorter than its record", payload.size(), entry->name);
        return std::nullopt;
    }
    ByteReader reader(payload);
    TvInputEvent event{.kind = entry->kind};
    switch (entry->layout) {
    case Layout::Point:
    case Layout::Scroll:
        event.x = reader.i32be();
        event.y = reader.i32be();
        break;
    case Layout::UsageLittleEndian:
        event.value = reader.u32le();
        break;
    case Layout::Int32BigEndian:
        event.value = reader.u32be();
        break;
    case Layout::Empty:
        break;
    }
    return event;
}

const char* TvInputEvent::name() const
{
    return byKind(kind).name;
}

std::string TvInputEvent::describe() const
{
    char fields[64] = "";
    switch (byKind(kind).layout) {
    case Layout::Point:
        std::snprintf(fields, sizeof fields, " x=%d y=%d", x, y);
        break;
    case Layout::Scroll:
        std::snprintf(fields, sizeof fields, " dx=%d dy=%d", x, y);
        break;
    case Layout::UsageLittleEndian:
        std::snprintf(fields, sizeof fields, " usage=0x%x", value);
        break;
    case Layout::Int32BigEndian:
        if (kind == Kind::AnnotationMode)
            std::snprintf(fields, sizeof fields, " on=%u", value);
        else
            std::snprintf(fields, sizeof fields, " code=0x%x", value);
        break;
    case Layout::Empty:
        break;
    }
    return std::string(name()) + fields;
}

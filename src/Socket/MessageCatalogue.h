#pragma once

#include <cstdint>
#include <span>

// One message type of the TV link as the catalogue describes it.
struct MessageInfo {
    // Which way it travels; a set of these bits (kMsgClientInfoRequest is both in and an event).
    enum Direction : uint8_t {
        kIn = 1,    // TV to us
        kOut = 2,   // us to TV
        kBoth = kIn | kOut,
        kEvent = 4, // raised by the transport client to the session, not read from the wire
    };
    // What becomes of it when it arrives (or, for an event, when it is raised).
    enum class Handling : uint8_t {
        Transport,   // consumed by the transport client; never reaches the session
        Session,     // the session acts on it
        Dropped,     // dropped by the transport
        NoAction,    // accepted by the session without action or log line
        Unprocessed, // reaches the session, which logs "unprocessed message 0x%x"
    };

    uint16_t type;
    const char* name;    // the constant's name, for log lines
    uint8_t direction;   // Direction bits
    const char* payload; // record name or payload kind ("none", "text", ...)
    Handling handling;
};

// The one table of every message type, ordered by code.
class MessageCatalogue {
public:
    static std::span<const MessageInfo> all();
    // nullptr for a type the catalogue does not know.
    static const MessageInfo* find(uint16_t type);
    // The constant's name, or "unknown".
    static const char* name(uint16_t type);
    // Whether the session logs a type it received as "unprocessed message 0x%x": unknown types
    // and those it has no use for, but not those it accepts silently (kMsgConnected, kMsgFilePushIgnored).
    static bool logsUnprocessed(uint16_t type);
};

#pragma once

#include "Socket/SessionEvent.h"

#include <span>

// Every message type the session acts on, with its delivery and handler, in one table. A type that is
// not in it is logged as unprocessed.
class SessionEventTable {
public:
    static std::span<const SessionEvent> all();
    // nullptr for a type the session does not act on.
    static const SessionEvent* find(int type);
};

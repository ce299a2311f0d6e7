#pragma once

#include <string>

// OpenSSL reports failures through a per-thread error queue. Every failure we log drains it, so a
// stale entry never shows up in the text of a later, unrelated failure on the same thread.
class OpenSSLError {
public:
    // The queued errors of this thread, oldest first, joined by "; " ("unknown error" when none),
    // leaving the queue empty.
    static std::string drain();
};

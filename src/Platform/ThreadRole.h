#pragma once

// What the calling thread is for, so the dispatch layer can refuse, in debug builds, a wait that
// could never end: the main thread joins the transport's threads, and the hand-off threads feed
// every queue. Platform never learns who set the role.
class ThreadRole {
public:
    enum class Role {
        Ordinary,
        // A TV link's own thread (receive, delivery, heartbeat, send): the main thread may join it.
        Transport,
        // dispatch.io or dispatch.fd: every queue's timers and descriptors wait behind it.
        HandOff,
    };

    // Marks the calling thread for the rest of its life.
    static void set(Role role);
    static Role current();

    // Neither a hand-off thread nor one the main thread may be joining.
    static bool mayWaitForMain();
    // Not a hand-off thread.
    static bool mayWait();
};

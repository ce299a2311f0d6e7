#pragma once

#include "Platform/DispatchQueue.h"

#include <functional>
#include <memory>

// Read or write readiness of a file descriptor, reported to an event handler on a DispatchQueue.
// Level-triggered: while the descriptor stays ready and the source is resumed, the handler keeps being
// called, one call at a time; a call may find the descriptor already drained by an earlier task on
// the queue, so handlers read and write without blocking. The descriptor stays the caller's: the
// source never closes it, and it stays open until the cancel handler, which is where it belongs to
// close it. Sources on one descriptor share one registration in the DispatchReactor. Every method
// is safe from any thread.
class DispatchSource {
public:
    enum class Kind { Read, Write };
    using Handler = std::function<void()>;

    // A suspended source, or nullptr (logged) when the descriptor cannot be watched. The cancel handler
    // runs once on the queue, after cancel(), when the last event handler has returned.
    static std::unique_ptr<DispatchSource> create(int fd, Kind kind, std::shared_ptr<DispatchQueue> queue,
                                                  Handler eventHandler, Handler cancelHandler = {});
    // Cancels.
    ~DispatchSource();
    DispatchSource(const DispatchSource&) = delete;
    DispatchSource& operator=(const DispatchSource&) = delete;

    // Resuming a resumed source or suspending a suspended one does nothing.
    void resume();
    // Once this returns, no event handler call that has not begun will begin until resume().
    void suspend();
    // Once this returns, no event handler call that has not begun will begin; the cancel handler follows.
    void cancel();

    int fd() const;

private:
    struct State;
    explicit DispatchSource(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
};

#pragma once

#include "Platform/DispatchQueue.h"

#include <functional>
#include <memory>

// Read or write readiness of a file descriptor, reported to an event handler on a DispatchQueue.
// Level-triggered: while the descriptor stays ready and the source is resumed, the handler keeps being
// called, one call at a time. The descriptor stays the caller's: the source watches a duplicate of it
// and never closes the caller's one, which belongs in the cancel handler. Every method is safe from
// any thread.
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

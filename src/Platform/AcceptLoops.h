#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Threads of a listener's own that wait on its listening descriptors and accept in place. Each loop
// has its own epoll set with the descriptors registered exclusively, so a connection wakes one loop,
// which accepts it and, when its request is already in, serves it whole on the same thread: no
// hand-off from a readiness thread to a worker per connection. While paused the loops sleep, and
// the backlog keeps the waiting clients. Every method is safe from any thread.
class AcceptLoops {
public:
    // Runs on a loop's thread with the index of a descriptor that is ready to accept.
    using Ready = std::function<void(size_t descriptor)>;

    // Starts `loops` threads named `name`, paused; `stopped` runs once, on the last loop to end,
    // after which no handler runs. nullptr, errno set, when an epoll set or a thread cannot be made.
    static std::unique_ptr<AcceptLoops> start(const std::vector<int>& descriptors, size_t loops, const std::string& name, Ready ready,
        std::function<void()> stopped);
    // Stops.
    ~AcceptLoops();
    AcceptLoops(const AcceptLoops&) = delete;
    AcceptLoops& operator=(const AcceptLoops&) = delete;

    // Resumed loops wait on the descriptors; paused ones do not, so a pending connection does not
    // wake them over and over.
    void setAccepting(bool accepting);
    // Ends the loops and waits until every one has, except the calling loop when called from its
    // handler: that one ends when the handler returns. Once is enough; later calls do nothing.
    void stop();

private:
    struct State;
    explicit AcceptLoops(std::shared_ptr<State> state);
    static void run(const std::shared_ptr<State>& state, int epoll);

    const std::shared_ptr<State> state_;
};

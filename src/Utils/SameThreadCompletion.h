#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

// Starts an operation that reports through a completion, and tells a completion that comes back on
// the calling thread before the operation returns from one that comes later or from another thread.
// The first is returned to the caller, which goes on in the same task (a queue task posting its own
// next step to itself would pay a thread hand-off for nothing); the second goes to `later`.
template <typename... Args>
class SameThreadCompletion {
public:
    using Completion = std::function<void(Args...)>;
    using Result = std::tuple<std::decay_t<Args>...>;

    // Calls start(completion). Returns the arguments of the completion's first call when that call came
    // on this thread before start returned; otherwise nullopt, and every call goes to `later`, on the
    // thread that makes it. Calls on this thread during start after the first one are ignored.
    template <typename Start>
    static std::optional<Result> call(Start&& start, Completion later)
    {
        const auto shared = std::make_shared<Shared>(std::move(later));
        std::forward<Start>(start)([shared](Args... args) {
            if (shared->caller.load() != std::this_thread::get_id()) {
                shared->later(std::forward<Args>(args)...);
                return;
            }
            if (!shared->result)
                shared->result.emplace(std::forward<Args>(args)...);
        });
        // From here on every call, even one on this thread, comes after start returned.
        shared->caller.store(std::thread::id{});
        return std::move(shared->result);
    }

private:
    struct Shared {
        explicit Shared(Completion laterCall) : later(std::move(laterCall)) {}
        // The thread inside start; touched by others only through this id.
        std::atomic<std::thread::id> caller{std::this_thread::get_id()};
        std::optional<Result> result;  // written and read on the calling thread only
        const Completion later;
    };
};

#include "Platform/AcceptPause.h"

#include <cerrno>
#include <cstring>

AcceptPause::AcceptPause(std::string listenerName, std::shared_ptr<DispatchQueue> queue, std::function<void(bool paused)> setPaused,
    std::function<void(const std::string& line)> log, std::chrono::milliseconds rest)
    : name_(std::move(listenerName)),
      setPaused_(std::move(setPaused)),
      log_(std::move(log)),
      rest_(rest),
      // A copy of the switch, not `this`: a firing under way when the pause goes still finishes.
      resume_(std::move(queue), [setPaused = setPaused_] { setPaused(false); })
{
}

AcceptPause::~AcceptPause() { resume_.cancel(); }

bool AcceptPause::isDescriptorShortage(int code) { return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM; }

bool AcceptPause::acceptFailed(int code)
{
    if (!isDescriptorShortage(code))
        return false;
    ++pauses_;
    if (!inEpisode_.exchange(true))
        log_("Out of descriptors accepting on " + name_ + ": " + std::strerror(code) + "; pausing " + std::to_string(rest_.count())
             + " ms at a time until one frees up");
    setPaused_(true);
    resume_.start(rest_);
    return true;
}

void AcceptPause::accepted()
{
    if (!inEpisode_.load(std::memory_order_relaxed) || !inEpisode_.exchange(false))
        return;
    log_("Accepting again on " + name_ + " after " + std::to_string(pauses_.exchange(0)) + " pause(s)");
}

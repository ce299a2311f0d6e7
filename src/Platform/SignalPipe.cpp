#include "Platform/SignalPipe.h"

#include "Utils/Log.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe's write end, read by the handler; -1 while no SignalPipe exists.
std::atomic<int> gWriteFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads it");

void onSignal(int signal)
{
    // Only async-signal-safe calls here; errno belongs to the code the signal interrupted.
    const int savedErrno = errno;
    const int fd = gWriteFd.load();
    if (fd != -1) {
        const auto byte = static_cast<unsigned char>(signal);
        // A full pipe already holds a wake-up; the lost byte changes nothing the loop does.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

SignalPipe::SignalPipe(std::vector<int> signals) : signals_(std::move(signals))
{
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
        PLOG_ERRNO("signal pipe not made");
        return;
    }
    readFd_ = fds[0];
    [[maybe_unused]] const int earlier = gWriteFd.exchange(fds[1]);
    assert(earlier == -1 && "one SignalPipe at a time");
    valid_ = true;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : signals_) {
        struct sigaction old = {};
        if (::sigaction(signal, &action, &old) != 0) {
            PLOG_ERRNO("no handler for signal %d", signal);
            valid_ = false;
        }
        previous_.push_back(old);
    }
}

SignalPipe::~SignalPipe()
{
    for (size_t i = 0; i < signals_.size(); ++i)
        ::sigaction(signals_[i], &previous_[i], nullptr);
    const int writeFd = gWriteFd.exchange(-1);
    if (writeFd != -1)
        ::close(writeFd);
    if (readFd_ != -1)
        ::close(readFd_);
}

std::vector<int> SignalPipe::takeSignals()
{
    std::vector<int> arrived;
    unsigned char bytes[64];
    while (readFd_ != -1) {
        const ssize_t got = ::read(readFd_, bytes, sizeof bytes);
        if (got <= 0)
            break;
        arrived.insert(arrived.end(), bytes, bytes + got);
    }
    return arrived;
}

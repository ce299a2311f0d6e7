#pragma once

#include <csignal>
#include <vector>

// Turns signals into bytes on a pipe that the main loop watches (the self-pipe pattern): the handler
// only writes the signal's number, so all the work happens later on the loop's thread. One at a time
// per process (asserted).
class SignalPipe {
public:
    // Installs the handler for each signal; valid() tells whether the pipe and every handler are in place.
    explicit SignalPipe(std::vector<int> signals);
    // Puts the previous handlers back and closes the pipe.
    ~SignalPipe();
    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    bool valid() const { return valid_; }
    // Becomes readable when a signal has arrived. Non-blocking.
    int readFd() const { return readFd_; }
    // The signals that arrived since the last call, in order of arrival. Never blocks.
    std::vector<int> takeSignals();

private:
    std::vector<int> signals_;
    std::vector<struct sigaction> previous_;
    int readFd_ = -1;
    bool valid_ = false;
};

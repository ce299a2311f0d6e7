#pragma once

// An eventfd that wakes a thread blocked in poll(): wake() from any thread, drain() on the woken one.
class WakeFd {
public:
    WakeFd();
    ~WakeFd();
    WakeFd(const WakeFd&) = delete;
    WakeFd& operator=(const WakeFd&) = delete;

    // -1 when the eventfd could not be made (logged).
    int fd() const { return fd_; }
    void wake();
    void drain();

private:
    int fd_ = -1;
};

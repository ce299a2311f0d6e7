#pragma once

#include <unistd.h>

#include <utility>

// One descriptor owned: closed when the owner goes, unless released first. A closed one is -1.
class NetSocketDescriptor {
public:
    NetSocketDescriptor() = default;
    explicit NetSocketDescriptor(int fd) : fd_(fd) { }
    ~NetSocketDescriptor() { reset(); }
    NetSocketDescriptor(NetSocketDescriptor&& other) noexcept : fd_(other.release()) { }
    NetSocketDescriptor& operator=(NetSocketDescriptor&& other) noexcept
    {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    NetSocketDescriptor(const NetSocketDescriptor&) = delete;
    NetSocketDescriptor& operator=(const NetSocketDescriptor&) = delete;

    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset()
    {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
    }

private:
    int fd_ = -1;
};

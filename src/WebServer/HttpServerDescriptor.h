#pragma once

#include <utility>

// Owns one open file descriptor and closes it when destroyed; -1 holds nothing.
class HttpServerDescriptor {
public:
    HttpServerDescriptor() = default;
    explicit HttpServerDescriptor(int fd) : fd_(fd) {}
    ~HttpServerDescriptor();
    HttpServerDescriptor(HttpServerDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    HttpServerDescriptor& operator=(HttpServerDescriptor&& other) noexcept;
    HttpServerDescriptor(const HttpServerDescriptor&) = delete;
    HttpServerDescriptor& operator=(const HttpServerDescriptor&) = delete;

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

#include "WebServer/HttpServerDescriptor.h"

#include <unistd.h>

HttpServerDescriptor::~HttpServerDescriptor()
{
    if (fd_ >= 0)
        ::close(fd_);
}

HttpServerDescriptor& HttpServerDescriptor::operator=(HttpServerDescriptor&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

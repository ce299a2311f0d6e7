#include "WebServer/HttpServerTemporaryFile.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

bool fail(HttpError* error)
{
    if (error)
        *error = HttpError::posix(errno);
    return false;
}

} // namespace

HttpServerTemporaryFile::~HttpServerTemporaryFile()
{
    discard();
}

void HttpServerTemporaryFile::discard()
{
    if (fd_ != -1)
        ::close(fd_);
    fd_ = -1;
    if (!path_.empty())
        ::unlink(path_.c_str());
    path_.clear();
}

void HttpServerTemporaryFile::setLocation(std::string folder, std::string namePrefix)
{
    folder_ = std::move(folder);
    namePrefix_ = std::move(namePrefix);
}

bool HttpServerTemporaryFile::create(HttpError* error)
{
    discard();
    std::string folder = folder_;
    if (folder.empty()) {
        std::error_code ignored;
        folder = std::filesystem::temp_directory_path(ignored).string();
    }
    if (folder.empty())
        folder = "/tmp";
    std::string pattern = (std::filesystem::path(folder) / (namePrefix_ + "XXXXXX")).string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd == -1)
        return fail(error);
    fd_ = fd;
    path_ = name.data();
    return true;
}

bool HttpServerTemporaryFile::write(std::span<const uint8_t> data, HttpError* error)
{
    if (fd_ == -1) {
        errno = EBADF;
        return fail(error);
    }
    while (!data.empty()) {
        const ssize_t written = ::write(fd_, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return fail(error);
        }
        data = data.subspan(static_cast<size_t>(written));
    }
    return true;
}

bool HttpServerTemporaryFile::close(HttpError* error)
{
    if (fd_ == -1)
        return true;
    const int fd = std::exchange(fd_, -1);
    if (::close(fd) != 0)
        return fail(error);
    return true;
}

std::string HttpServerTemporaryFile::releasePath()
{
    HttpError ignored;
    close(&ignored);
    return std::exchange(path_, std::string());
}

#include "App/LaunchChannel.h"

#include "App/SingletonApp.h"
#include "Platform/DispatchSource.h"
#include "Utils/Log.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace fs = std::filesystem;

namespace {

// The socket address of a path; nullopt (logged) when the path is too long for one.
std::optional<sockaddr_un> addressOf(const fs::path& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string& text = path.native();
    if (text.empty() || text.size() >= sizeof address.sun_path) {
        PLOG("launch channel: the path %s does not fit a socket address", text.c_str());
        return std::nullopt;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return address;
}

// Removes what an earlier run left at the path when it is a socket; false when something else is there.
bool clearOldSocket(const fs::path& path)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    if (!S_ISSOCK(info.st_mode)) {
        PLOG("launch channel: %s is not a socket, left alone", path.c_str());
        return false;
    }
    return ::unlink(path.c_str()) == 0;
}

} // namespace

std::optional<fs::path> LaunchChannel::channelPath()
{
    const auto lock = SingletonApp::lockFilePath();
    if (!lock)
        return std::nullopt;
    return lock->parent_path() / kSocketName;
}

std::unique_ptr<LaunchChannel> LaunchChannel::listen(const fs::path& path, std::shared_ptr<DispatchQueue> queue,
                                                     std::function<void()> onLaunch)
{
    const auto address = addressOf(path);
    if (!address || !clearOldSocket(path))
        return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        PLOG_ERRNO("launch channel: no socket");
        return nullptr;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0
        || ::chmod(path.c_str(), 0600) != 0) {
        PLOG_ERRNO("launch channel: cannot listen at %s", path.c_str());
        ::unlink(path.c_str());
        ::close(fd);
        return nullptr;
    }
    auto source = DispatchSource::create(
        fd, DispatchSource::Kind::Read, std::move(queue),
        [fd, onLaunch = std::move(onLaunch)] {
            // On `queue`. The requests are all alike: read what came, answer once.
            char byte = 0;
            int read = 0;
            while (read < kRequestsPerWake && ::recv(fd, &byte, sizeof byte, 0) >= 0)
                ++read;
            if (read > 0) {
                PLOG("a later launch asks for the window");
                onLaunch();
            }
        },
        [fd] { ::close(fd); });
    if (!source) {
        ::unlink(path.c_str());
        ::close(fd);
        return nullptr;
    }
    source->resume();
    return std::unique_ptr<LaunchChannel>(new LaunchChannel(path, std::move(source)));
}

LaunchChannel::LaunchChannel(fs::path path, std::unique_ptr<DispatchSource> source)
    : path_(std::move(path)), source_(std::move(source))
{
}

LaunchChannel::~LaunchChannel()
{
    source_->cancel();
    ::unlink(path_.c_str());
}

bool LaunchChannel::tell(const fs::path& path)
{
    const auto address = addressOf(path);
    if (!address)
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const char request = 'r';
    const bool told = ::sendto(fd, &request, sizeof request, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&*address),
                               sizeof *address) == sizeof request;
    ::close(fd);
    return told;
}

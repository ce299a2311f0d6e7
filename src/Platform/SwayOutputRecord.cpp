#include "Platform/SwayOutputRecord.h"

#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

std::unique_ptr<SwayOutputRecord> SwayOutputRecord::take(const std::string& swaySocket)
{
    const auto runtime = FileManager::runtimeFolder();
    if (!runtime || swaySocket.empty())
        return nullptr;
    const std::string path = (*runtime / "pelkor-sway-output").string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        PLOG_ERRNO("no record of sway's extended screen output at %s", path.c_str());
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    // "socket\nname\n"; anything else notes no output.
    char bytes[kMaxSize];
    const ssize_t got = ::pread(fd, bytes, sizeof bytes, 0);
    const std::string text(bytes, got > 0 ? static_cast<size_t>(got) : 0);
    const std::string prefix = swaySocket + "\n";
    std::string output;
    if (text.compare(0, prefix.size(), prefix) == 0) {
        const size_t end = text.find('\n', prefix.size());
        if (end != std::string::npos)
            output = text.substr(prefix.size(), end - prefix.size());
    }
    return std::unique_ptr<SwayOutputRecord>(new SwayOutputRecord(fd, swaySocket, std::move(output)));
}

SwayOutputRecord::SwayOutputRecord(int fd, std::string swaySocket, std::string output)
    : fd_(fd), swaySocket_(std::move(swaySocket)), output_(std::move(output))
{
}

SwayOutputRecord::~SwayOutputRecord()
{
    ::close(fd_);
}

void SwayOutputRecord::keep(const std::string& name)
{
    output_ = name;
    const std::string text = swaySocket_ + "\n" + name + "\n";
    if (text.size() > kMaxSize || ::ftruncate(fd_, 0) != 0
        || ::pwrite(fd_, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        PLOG("sway's extended screen output %s is not noted", name.c_str());
}

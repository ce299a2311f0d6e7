#include "App/SingletonApp.h"

#include "Utils/FileManager.h"
#include "Utils/Log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The process-wide lock; -1 until it is taken.
int gLockDescriptor = -1;

} // namespace

bool SingletonApp::cansingletonApp()
{
    const auto path = lockFilePath();
    if (!path) {
        PLOG("no folder for the single-instance lock (neither XDG_RUNTIME_DIR nor a caches folder)");
        return false;
    }
    return cansingletonApp(*path);
}

bool SingletonApp::cansingletonApp(const fs::path& lockFile)
{
    if (gLockDescriptor != -1)
        return true;
    const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        PLOG_ERRNO("cannot open the single-instance lock %s", lockFile.c_str());
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        // Another copy holds it: that copy goes on, this one leaves without a word.
        ::close(fd);
        return false;
    }
    gLockDescriptor = fd;
    return true;
}

void SingletonApp::unsingletonApp()
{
    if (gLockDescriptor == -1)
        return;
    ::flock(gLockDescriptor, LOCK_UN);
    ::close(gLockDescriptor);
    gLockDescriptor = -1;
}

int SingletonApp::lockDescriptor()
{
    return gLockDescriptor;
}

std::optional<fs::path> SingletonApp::lockFilePath()
{
    const auto runtime = FileManager::runtimeFolder();
    std::error_code error;
    if (runtime && fs::is_directory(*runtime, error))
        return *runtime / kLockFileName;
    const auto caches = FileManager::cachesFolder();
    if (!caches)
        return std::nullopt;
    fs::create_directories(*caches, error);
    if (!fs::is_directory(*caches, error))
        return std::nullopt;
    return *caches / kLockFileName;
}

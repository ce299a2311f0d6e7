#include "Update/UpdateFolder.h"

#include "Utils/Log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string stamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d-%H:%M:%S", &local);
    return text;
}

bool isOurs(const fs::path& entry)
{
    struct stat status{};
    if (::lstat(entry.c_str(), &status) != 0)
        return false;
    return S_ISDIR(status.st_mode) && status.st_uid == ::getuid() && (status.st_mode & 07777) == 0700;
}

} // namespace

void UpdateFolder::removeEarlier(const fs::path& base)
{
    std::error_code error;
    for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
        const fs::path entry = it->path();
        if (entry.filename().string().rfind(kPrefix, 0) != 0 || !isOurs(entry))
            continue;
        std::error_code removal;
        fs::remove_all(entry, removal);
        if (removal)
            PLOG("cannot remove the earlier update folder %s: %s", entry.c_str(), removal.message().c_str());
    }
}

std::optional<fs::path> UpdateFolder::make(const fs::path& base)
{
    removeEarlier(base);
    std::string name = (base / (std::string(kPrefix) + stamp() + "-XXXXXX")).string();
    if (!::mkdtemp(name.data())) {
        PLOG("cannot make an update folder in %s: %s", base.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    return fs::path(name);
}

#include "Socket/LocalSystemInfo.h"

#include "Utils/Log.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

std::string LocalSystemInfo::osVersionText()
{
    static const std::string text = [] {
        long major = 0;
        long minor = 0;
        long patch = 0;
        utsname names{};
        if (::uname(&names) == 0)
            std::sscanf(names.release, "%ld.%ld.%ld", &major, &minor, &patch);
        else
            PLOG_ERRNO("uname");
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%ld.%ld.%ld", major, minor, patch);
        return std::string(buffer);
    }();
    return text;
}

std::string LocalSystemInfo::loginName()
{
    std::vector<char> buffer(16'384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name)
        return found->pw_name;
    for (const char* variable : {"USER", "LOGNAME"}) {
        if (const char* name = std::getenv(variable))
            return name;
    }
    return {};
}

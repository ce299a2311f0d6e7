#include "Update/UpdateRestart.h"

#include "Utils/Log.h"
#include "Utils/Shell.h"

#include <spawn.h>

#include <system_error>

extern char** environ;

namespace fs = std::filesystem;

std::vector<UpdateRestart::Command> UpdateRestart::commands(const fs::path& newApplication, const fs::path& installation,
                                                            const std::string& executable)
{
    return {{"cp", "-R", "--", (newApplication / ".").string(), installation.string()},
            {(installation / "bin" / executable).string()}};
}

fs::path UpdateRestart::runningInstallation()
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : executable.parent_path().parent_path();
}

bool UpdateRestart::run(const std::vector<Command>& commands)
{
    if (commands.size() != 2 || commands[1].empty())
        return false;
    const auto copied = Shell::run(commands[0]);
    if (!copied || copied->exitCode != 0) {
        PLOG("the new version could not be copied into place; it is not started");
        return false;
    }
    std::vector<char*> argv;
    for (const auto& argument : commands[1])
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        PLOG("the new version could not be started: %s", argv[0]);
        return false;
    }
    return true;
}

#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Puts an unpacked new version in place of the installed one and starts it. Every command is an
// argument list run by exec, never a shell line, so paths with spaces or shell characters stay
// single arguments.
class UpdateRestart {
public:
    using Command = std::vector<std::string>;

    // The commands, in order: copy the new application's files over the installation (the folder
    // holding bin/), then start the installed executable.
    static std::vector<Command> commands(const std::filesystem::path& newApplication,
                                         const std::filesystem::path& installation, const std::string& executable);
    // The installation of the running program: the folder above its executable's folder.
    static std::filesystem::path runningInstallation();
    // Runs the copy and waits for it; only when it succeeded starts the executable without waiting.
    // False (logged) when a step failed.
    static bool run(const std::vector<Command>& commands);
};

#pragma once

#include <optional>
#include <string>
#include <vector>

// Runs child processes synchronously on the calling thread: the child's standard output is
// collected through a pipe (read to its end before the child is reaped), standard input and
// standard error are inherited. A child that never exits blocks the caller.
class Shell {
public:
    struct Outcome {
        std::string output;  // every byte the child wrote to standard output
        int exitCode = -1;   // the child's exit status; -1 when a signal ended it
    };

    // Runs "/bin/bash" "-c" line; returns what it printed, nullopt when it could not start or the
    // output is not valid UTF-8. The exit status is not looked at.
    static std::optional<std::string> cmd(const std::string& line);
    // No script host here: runs args[0] (an executable script) with the rest as its arguments.
    // Same result rules as cmd.
    static std::optional<std::string> script(const std::vector<std::string>& args);
    // Executes argv[0] (a path, or a name looked up in PATH) with argv as its argument list; no
    // shell sees the arguments, so they may carry any data. nullopt when argv is empty, an argument
    // holds a NUL byte, or the program could not start.
    static std::optional<Outcome> run(const std::vector<std::string>& argv);
};

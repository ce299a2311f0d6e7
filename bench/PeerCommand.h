#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Runs a peer program (ffmpeg) by argv and times it from start to exit; its output, both streams,
// is read to the end before it is waited for.
class PeerCommand {
public:
    struct Run {
        bool ok = false; // started and exited with status 0
        double seconds = 0;
        std::string output;
    };

    static Run run(const std::vector<std::string>& args);
    // Starts `args` (the program looked up in PATH) with descriptor i of the child taken from
    // fds[i], or /dev/null where that is -1; -1 when it cannot start.
    static pid_t spawn(const std::vector<std::string>& args, const std::vector<int>& fds);
    // What a child started by spawn() used, once it ended.
    struct Usage {
        bool ok = false; // exited with status 0
        double cpuSeconds = 0;
        long peakResidentKilobytes = 0;
    };
    static Usage wait(pid_t pid);
    // Whether `program` can be run at all.
    static bool available(const std::string& program);
};

#include "Utils/Shell.h"

#include "Utils/Log.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>
#include <string_view>

extern char** environ;

namespace {

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        // Sequence length, payload bits of the lead byte, smallest code point that needs this length.
        size_t length = 4;
        uint32_t code = lead & 0x07u;
        uint32_t smallest = 0x10000;
        if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1Fu;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0Fu;
            smallest = 0x800;
        } else if ((lead & 0xF8) != 0xF0) {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

// Reads fd to its end into out; false on a read error or when out cannot grow.
bool readToEnd(int fd, std::string& out)
{
    char buffer[65536];
    try {
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got > 0) {
                out.append(buffer, static_cast<size_t>(got));
            } else if (got == 0) {
                return true;
            } else if (errno != EINTR) {
                PLOG_ERRNO("read child output");
                return false;
            }
        }
    } catch (const std::bad_alloc&) {
        PLOG("child output too large for memory");
        return false;
    }
}

// Waits for the child; its exit status, or -1 when a signal ended it or it cannot be waited for.
int reap(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            PLOG_ERRNO("waitpid %d", static_cast<int>(pid));
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Starts argv with its standard output on outFd. The child gets an empty signal mask and the
// default SIGPIPE action, whatever this process blocks or ignores, so pipelines inside it behave.
int spawn(pid_t& pid, const std::vector<std::string>& argv, int outFd)
{
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    // dup2 clears close-on-exec on the child's fd 1; both pipe ends stay close-on-exec otherwise.
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const int result = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return result;
}

std::optional<std::string> utf8Output(std::optional<Shell::Outcome> outcome)
{
    if (!outcome)
        return std::nullopt;
    if (!isValidUtf8(outcome->output)) {
        PLOG("child output is not UTF-8 (%zu bytes)", outcome->output.size());
        return std::nullopt;
    }
    return std::move(outcome->output);
}

} // namespace

std::optional<std::string> Shell::cmd(const std::string& line)
{
    return utf8Output(run({"/bin/bash", "-c", line}));
}

std::optional<std::string> Shell::script(const std::vector<std::string>& args)
{
    return utf8Output(run(args));
}

std::optional<Shell::Outcome> Shell::run(const std::vector<std::string>& argv)
{
    if (argv.empty()) {
        PLOG("nothing to run");
        return std::nullopt;
    }
    for (const auto& arg : argv) {
        // exec would cut the argument at the NUL and pass something else than asked for.
        if (arg.find('\0') != std::string::npos) {
            PLOG("argument of %s holds a NUL byte", argv[0].c_str());
            return std::nullopt;
        }
    }

    int ends[2];
    // Close-on-exec, so children started by other threads meanwhile hold no copy of the write end
    // (which would keep the end of our output from ever arriving).
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        PLOG_ERRNO("pipe2");
        return std::nullopt;
    }
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);

    pid_t pid = -1;
    const int spawnError = spawn(pid, argv, writeEnd.get());
    writeEnd.reset();
    if (spawnError != 0) {
        errno = spawnError;
        PLOG_ERRNO("cannot start %s", argv[0].c_str());
        return std::nullopt;
    }

    // The output is read to its end before waiting: a child filling the pipe would otherwise wait
    // for us while we wait for it.
    Outcome outcome;
    const bool complete = readToEnd(readEnd.get(), outcome.output);
    // Closed before reaping, so a child still writing after a failed read gets EPIPE instead of blocking.
    readEnd.reset();
    outcome.exitCode = reap(pid);
    if (!complete)
        return std::nullopt;
    return outcome;
}

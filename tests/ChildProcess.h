#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

// A program run as a child whose standard output the test reads line by line; killed and reaped
// with the object unless it was waited for.
class ChildProcess {
public:
    // argv[0] is looked up in PATH when it holds no "/".
    explicit ChildProcess(std::vector<std::string> argv)
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        std::vector<char*> pointers;
        for (auto& argument : argv)
            pointers.push_back(argument.data());
        pointers.push_back(nullptr);
        if (posix_spawnp(&pid_, pointers[0], &actions, nullptr, pointers.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = fds[0];
    }
    ~ChildProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ != -1)
            ::close(out_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // The next line of output; nullopt when none comes within the limit or the output ends.
    std::optional<std::string> line(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        while (true) {
            const size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string text = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return text;
            }
            if (!readMore(limit))
                return std::nullopt;
        }
    }

    // Everything still to come, up to the end of the output.
    std::string rest(std::chrono::milliseconds limit = std::chrono::seconds(10))
    {
        while (readMore(limit)) {
        }
        return std::exchange(buffered_, std::string());
    }

    // Sends the signal, then waits for the end; the exit status, -1 when a signal ended the child.
    int stop(int signal)
    {
        ::kill(pid_, signal);
        return wait();
    }

    // Waits for the end; the exit status, -1 when a signal ended the child.
    int wait()
    {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    bool readMore(std::chrono::milliseconds limit)
    {
        pollfd readable{out_, POLLIN, 0};
        char chunk[4096];
        if (::poll(&readable, 1, static_cast<int>(limit.count())) <= 0)
            return false;
        const ssize_t got = ::read(out_, chunk, sizeof chunk);
        if (got <= 0)
            return false;
        buffered_.append(chunk, static_cast<size_t>(got));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

#include "PeerCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

extern char** environ;

pid_t PeerCommand::spawn(const std::vector<std::string>& args, const std::vector<int>& fds)
{
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (auto& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (size_t fd = 0; fd < fds.size(); ++fd) {
        if (fds[fd] < 0)
            posix_spawn_file_actions_addopen(&actions, int(fd), "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
        else
            posix_spawn_file_actions_adddup2(&actions, fds[fd], int(fd));
    }
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

PeerCommand::Run PeerCommand::run(const std::vector<std::string>& args)
{
    Run result;
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0)
        return result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = spawn(args, {-1, output[1], output[1]});
    ::close(output[1]);
    if (pid < 0) {
        ::close(output[0]);
        return result;
    }
    char chunk[4096];
    for (ssize_t got; (got = ::read(output[0], chunk, sizeof chunk)) > 0;)
        result.output.append(chunk, static_cast<size_t>(got));
    ::close(output[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return result;
}

PeerCommand::Usage PeerCommand::wait(pid_t pid)
{
    int status = 0;
    rusage used{};
    if (wait4(pid, &status, 0, &used) != pid)
        return {};
    const auto seconds = [](const timeval& time) { return double(time.tv_sec) + double(time.tv_usec) / 1e6; };
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, seconds(used.ru_utime) + seconds(used.ru_stime),
            used.ru_maxrss};
}

bool PeerCommand::available(const std::string& program)
{
    return run({program, "-version"}).ok;
}

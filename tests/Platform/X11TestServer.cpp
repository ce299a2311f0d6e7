#include "Platform/X11TestServer.h"

#include "Utils/TestFolders.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace {

std::string lockPath(int number)
{
    return "/tmp/.X" + std::to_string(number) + "-lock";
}

// The process id that the lock file of display `number` names, -1 when there is none.
pid_t lockHolder(int number)
{
    std::ifstream lock(lockPath(number));
    long pid = -1;
    lock >> pid;
    return lock ? static_cast<pid_t>(pid) : -1;
}

} // namespace

std::string X11TestServer::program()
{
    return programOnPath("Xvfb");
}

bool X11TestServer::start()
{
    const std::string xvfb = program();
    if (xvfb.empty()) {
        return false;
    }
    // Xvfb's own messages, shown when it does not come up: a test that times out says nothing of why.
    const TempDir scratch;
    const std::string messages = (scratch / "xvfb.log").string();
    // Spread concurrent test processes over different numbers; a number taken in between is skipped.
    const int first = 100 + static_cast<int>(getpid() % 400);
    for (int number = first; number < first + 60; ++number) {
        if (std::filesystem::exists(lockPath(number)) || std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
            continue;
        }
        const Launch launched = launch(xvfb, number, messages);
        if (launched == Launch::kReady) {
            return true;
        }
        if (launched == Launch::kFailed) {
            break;
        }
    }
    std::stringstream text;
    text << std::ifstream(messages).rdbuf();
    std::cerr << "Xvfb did not come up; its last messages:\n" << text.str() << std::endl;
    return false;
}

X11TestServer::Launch X11TestServer::launch(const std::string& program, int number, const std::string& messages)
{
    const std::string display = ":" + std::to_string(number);
    std::vector<std::string> args{program, display, "-screen", "0", screen_, "-nolisten", "tcp", "-noreset"};
    args.insert(args.end(), extraArguments_.begin(), extraArguments_.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    // The server outlives a death test's child: holding that child's pipe, it would stall the parent.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return Launch::kFailed;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            // Another server got this number first.
            return Launch::kDisplayTaken;
        }
        // The server writes its lock before it listens, so a connection to a server whose lock names
        // our child is a connection to our child.
        if (lockHolder(number) == pid) {
            if (Display* probe = XOpenDisplay(display.c_str())) {
                XCloseDisplay(probe);
                pid_ = pid;
                name_ = display;
                return Launch::kReady;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return Launch::kFailed;
}

void X11TestServer::stop()
{
    if (pid_ < 0) {
        return;
    }
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    name_.clear();
}

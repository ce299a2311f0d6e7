#pragma once

#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// A sound server of the test's own: a pulseaudio daemon on a socket in a temporary folder, with its
// home, runtime and state folders there too, so no user session is touched. It starts with the
// computer's "own" devices (sink "Speakers", source "Microphone", the defaults) and the loopback
// device (null sink "ROZI-Audio" and its remap source "ROZI-Audio2ch_UID"). While it lives, this
// process's sound clients talk only to it.
class AudioPrivatePulseServer {
public:
    static bool installed() { return !programOnPath("pulseaudio").empty(); }

    AudioPrivatePulseServer()
    {
        if (dir_.path().empty())
            return;
        writeFile(dir_ / "client.conf", "autospawn = no\n");
        std::vector<std::string> args = {
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes", "--use-pid-file=no",
            "--system=no", "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + dir() + "/native",
            "-L", "module-null-sink sink_name=Speakers sink_properties=device.description=Speakers",
            "-L", "module-null-source source_name=Microphone",
            "-L", "module-null-sink sink_name=ROZI-Audio sink_properties=device.description=ROZI-Audio",
            "-L", "module-remap-source master=ROZI-Audio.monitor source_name=ROZI-Audio2ch_UID "
                  "source_properties=device.description=ROZI-Audio"};
        const char* path = std::getenv("PATH");
        std::vector<std::string> env = {"HOME=" + dir(), "PULSE_RUNTIME_PATH=" + dir() + "/runtime",
                                        "XDG_CONFIG_HOME=" + dir() + "/config", "PULSE_STATE_PATH=" + dir() + "/state",
                                        "PATH=" + std::string(path ? path : "/usr/bin")};
        const auto pointers = [](std::vector<std::string>& strings) {
            std::vector<char*> result;
            for (auto& text : strings)
                result.push_back(text.data());
            result.push_back(nullptr);
            return result;
        };
        std::vector<char*> argv = pointers(args);
        std::vector<char*> envp = pointers(env);
        const std::string log = dir() + "/daemon.log";
        const std::string program = programOnPath("pulseaudio");
        pid_ = program.empty() ? -1 : fork();
        if (pid_ == 0) {
            // The daemon dies with the test, even when the test crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        // Bounded wait for the socket to answer; a server that never does leaves ready() false.
        for (int attempt = 0; pid_ > 0 && attempt < 100 && !ready_; ++attempt) {
            ready_ = pactl({"info"}).has_value();
            if (!ready_)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    ~AudioPrivatePulseServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }

    AudioPrivatePulseServer(const AudioPrivatePulseServer&) = delete;
    AudioPrivatePulseServer& operator=(const AudioPrivatePulseServer&) = delete;

    bool ready() const { return ready_; }
    std::string dir() const { return dir_.path().string(); }

    // pactl's output with the trailing newline removed; nullopt when it failed.
    static std::optional<std::string> pactl(std::vector<std::string> args)
    {
        args.insert(args.begin(), "pactl");
        auto outcome = Shell::run(args);
        if (!outcome || outcome->exitCode != 0)
            return std::nullopt;
        std::string text = outcome->output;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }

private:
    TempDir dir_;
    ScopedEnv server_{"PULSE_SERVER", "unix:" + dir() + "/native"};
    ScopedEnv config_{"PULSE_CLIENTCONFIG", dir() + "/client.conf"};
    ScopedEnv cookie_{"PULSE_COOKIE", dir() + "/cookie"};
    pid_t pid_ = -1;
    bool ready_ = false;
};

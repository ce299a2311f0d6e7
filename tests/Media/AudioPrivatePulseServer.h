#pragma once

#include "Utils/Shell.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sys/prctl.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// A sound server of the test's own: a pulseaudio daemon on a socket in a temporary folder, with its
// home, runtime and state folders there too, so no user session is touched. It starts with the
// computer's "own" devices (sink "Speakers", source "Microphone", the defaults) and the loopback
// device (null sink "ROZI-Audio" and its remap source "ROZI-Audio2ch_UID"). While it lives, this
// process's sound clients talk only to it.
class AudioPrivatePulseServer {
public:
    static bool installed() { return !findInPath("pulseaudio").empty(); }

    AudioPrivatePulseServer()
    {
        char pattern[] = "/tmp/pelkor-pulse-XXXXXX";
        if (!mkdtemp(pattern))
            return;
        dir_ = pattern;
        std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
        setClientEnv("PULSE_SERVER", "unix:" + dir_ + "/native");
        setClientEnv("PULSE_CLIENTCONFIG", dir_ + "/client.conf");
        setClientEnv("PULSE_COOKIE", dir_ + "/cookie");

        std::vector<std::string> args = {
            "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes", "--use-pid-file=no",
            "--system=no", "-L", "module-native-protocol-unix auth-anonymous=1 socket=" + dir_ + "/native",
            "-L", "module-null-sink sink_name=Speakers sink_properties=device.description=Speakers",
            "-L", "module-null-source source_name=Microphone",
            "-L", "module-null-sink sink_name=ROZI-Audio sink_properties=device.description=ROZI-Audio",
            "-L", "module-remap-source master=ROZI-Audio.monitor source_name=ROZI-Audio2ch_UID "
                  "source_properties=device.description=ROZI-Audio"};
        std::vector<std::string> env = {"HOME=" + dir_, "PULSE_RUNTIME_PATH=" + dir_ + "/runtime",
                                        "XDG_CONFIG_HOME=" + dir_ + "/config", "PULSE_STATE_PATH=" + dir_ + "/state",
                                        "PATH=" + std::string(std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin")};
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& entry : env)
            envp.push_back(entry.data());
        envp.push_back(nullptr);

        std::string log = dir_ + "/daemon.log";
        std::string program = findInPath("pulseaudio");
        pid_ = program.empty() ? -1 : fork();
        if (pid_ == 0) {
            // The daemon dies with the test, even when the test crashes.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0) {
                dup2(out, STDOUT_FILENO);
                dup2(out, STDERR_FILENO);
            }
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        if (pid_ < 0)
            pid_ = 0;

        // Bounded wait for the socket to answer; a server that never does leaves ready() false.
        for (int attempt = 0; pid_ && attempt < 100 && !ready_; ++attempt) {
            auto info = Shell::run({"pactl", "info"});
            ready_ = info && info->exitCode == 0;
            if (!ready_)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    ~AudioPrivatePulseServer()
    {
        if (pid_) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        for (auto& [name, value] : savedEnv_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        if (!dir_.empty())
            std::filesystem::remove_all(dir_);
    }

    AudioPrivatePulseServer(const AudioPrivatePulseServer&) = delete;
    AudioPrivatePulseServer& operator=(const AudioPrivatePulseServer&) = delete;

    bool ready() const { return ready_; }
    const std::string& dir() const { return dir_; }

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
    static std::string findInPath(const std::string& name)
    {
        std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(':', start);
            if (end == std::string::npos)
                end = path.size();
            std::string candidate = path.substr(start, end - start) + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
            start = end + 1;
        }
        return {};
    }

    void setClientEnv(const std::string& name, const std::string& value)
    {
        const char* old = std::getenv(name.c_str());
        savedEnv_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        setenv(name.c_str(), value.c_str(), 1);
    }

    std::string dir_;
    pid_t pid_ = 0;
    bool ready_ = false;
    std::map<std::string, std::optional<std::string>> savedEnv_;
};

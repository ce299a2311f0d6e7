#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// A private Xvfb (1280×720 unless told otherwise, depth 24, no TCP) on a display number that no other
// server holds. It does not reset when its last client leaves, since a resetting server refuses
// connections.
class X11TestServer {
public:
    // extraArguments go to Xvfb after its own, for example {"-extension", "XTEST"} to leave one out;
    // screen is Xvfb's screen description, which is also the largest the screen can ever be.
    explicit X11TestServer(std::vector<std::string> extraArguments = {}, std::string screen = "1280x720x24")
        : extraArguments_(std::move(extraArguments)), screen_(std::move(screen))
    {
    }
    ~X11TestServer() { stop(); }
    X11TestServer(const X11TestServer&) = delete;
    X11TestServer& operator=(const X11TestServer&) = delete;

    // The Xvfb program on PATH; empty when it is not installed.
    static std::string program();

    // Starts the server and waits until it takes connections; false, with Xvfb's own messages on
    // standard error, when it never did.
    bool start();
    // Ends the server, killing it when it does not end within a few seconds; nothing when none runs.
    void stop();

    const std::string& name() const { return name_; }

private:
    enum class Launch { kReady, kDisplayTaken, kFailed };
    Launch launch(const std::string& program, int number, const std::string& messages);

    const std::vector<std::string> extraArguments_;
    const std::string screen_;
    pid_t pid_ = -1;
    std::string name_;
};

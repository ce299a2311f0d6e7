#pragma once

#include "Platform/X11TestServer.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <optional>
#include <string>
#include <vector>

// A private Xvfb whose screen can grow, which is what the extended screen needs. Xvfb's screen never
// grows past the size it started with, so this one starts at its largest, then shows a smaller main
// display on its one output, which shrinks the screen to that display and leaves room to grow.
class GrowableXvfb {
public:
    GrowableXvfb(int mainWidth, int mainHeight, int largestWidth, int largestHeight)
        : server_({}, std::to_string(largestWidth) + "x" + std::to_string(largestHeight) + "x24"),
          mainWidth_(mainWidth),
          mainHeight_(mainHeight)
    {
    }

    // Xvfb and xrandr are installed.
    static bool available() { return !X11TestServer::program().empty() && !programOnPath("xrandr").empty(); }

    // Starts the server and sizes its main display; false when either failed.
    bool start()
    {
        if (!server_.start())
            return false;
        const std::string mode = "main" + std::to_string(mainWidth_) + "x" + std::to_string(mainHeight_);
        const std::string width = std::to_string(mainWidth_);
        const std::string height = std::to_string(mainHeight_);
        return xrandr({"--newmode", mode, "0", width, "0", "0", "0", height, "0", "0", "0"}) &&
               xrandr({"--addmode", "screen", mode}) && xrandr({"--output", "screen", "--mode", mode});
    }

    const std::string& name() const { return server_.name(); }

    // `xrandr` with these arguments on this server; false when it failed.
    bool xrandr(const std::vector<std::string>& arguments) const
    {
        const auto outcome = run(arguments);
        return outcome && outcome->exitCode == 0;
    }

    // What `xrandr --listmonitors` prints for this server.
    std::string monitors() const
    {
        const auto outcome = run({"--listmonitors"});
        return outcome ? outcome->output : std::string{};
    }

private:
    std::optional<Shell::Outcome> run(std::vector<std::string> arguments) const
    {
        arguments.insert(arguments.begin(), {"xrandr", "-display", server_.name()});
        return Shell::run(arguments);
    }

    X11TestServer server_;
    const int mainWidth_;
    const int mainHeight_;
};

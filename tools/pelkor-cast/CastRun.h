#pragma once

#include "ConsoleView.h"

#include "Platform/DispatchTimer.h"
#include "Socket/TCPManager.h"
#include "Session/CastQuality.h"
#include "Session/MainWindowController.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class RunLoop;

// One run of pelkor-cast on the main thread: connect, cast, stop, disconnect, report. It drives the
// controller through the window's actions only, watching what the console view shows.
class CastRun {
public:
    struct Options {
        std::string address;  // picked from the TV list
        uint16_t port = 6666;
        std::string code;     // typed in the address field
        std::optional<int> seconds;
        int32_t quality = 0;
        // The frame rate in place of the TV's answer; nullopt: the TV's.
        std::optional<int32_t> fps;
        bool sound = true;
        // One window, the first the window page lists (on Wayland its tile that lets the desktop
        // ask which), instead of the whole screen.
        bool window = false;
        // The extended screen (made for the run, beside the main display) instead of the whole screen.
        bool extended = false;
    };

    // Runs the session with a RunLoop on the calling thread, until the cast ended; the exit status.
    static int main(const Options& options);

private:
    using Clock = std::chrono::steady_clock;
    enum class Step { Connecting, Choosing, Casting, Stopping, Done };

    CastRun(const Options& options, RunLoop& loop, bool withSound);

    void start();
    // Connected: casts the screen, or opens the window page to choose a window.
    void castOnceConnected(Clock::time_point now);
    // Starts the cast of the chosen source, with the casting code when the TV asks for it.
    void startCast(Clock::time_point now, bool window);
    // Every kTick on the main queue: moves the run on by what the controller shows.
    void tick();
    // Stops the cast and, a moment later, the link; `why` is printed.
    void finish(const std::string& why, int status);
    void report() const;
    void print(const std::string& line) const;
    SessionServices services(bool withSound);

    const Options options_;
    RunLoop& loop_;
    TCPManager link_;
    ConsoleView view_;
    std::unique_ptr<MainWindowController> controller_;
    DispatchTimer ticker_;
    Step step_ = Step::Connecting;
    int status_ = 0;
    Clock::time_point connectStarted_;
    std::optional<Clock::time_point> castStarted_;
    std::optional<Clock::time_point> firstFrame_;
    Clock::time_point lastFrame_;
    uint64_t framesSeen_ = 0;
    std::optional<CastQuality::Format> format_;
};

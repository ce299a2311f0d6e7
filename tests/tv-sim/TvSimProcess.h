#pragma once

#include "ChildProcess.h"

#include <csignal>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

// tv-sim as a child whose report lines the test reads.
class TvSimProcess {
public:
    explicit TvSimProcess(std::vector<std::string> arguments) : child_(withProgram(std::move(arguments))) {}

    bool running() const { return child_.running(); }

    // The next report line (diagnostic log lines, whose origin is "PTC[...]", skipped); nullopt after
    // 10 s without one or at the end.
    std::optional<std::string> reportLine()
    {
        while (auto line = child_.line()) {
            if (line->find(" PTC[") == std::string::npos)
                return line;
        }
        return std::nullopt;
    }

    // The port of the first report line, "listen 127.0.0.1:<port>"; 0 when it is not that line.
    uint16_t listenPort()
    {
        const auto line = reportLine().value_or("");
        std::smatch match;
        if (!std::regex_match(line, match, std::regex(R"(listen 127\.0\.0\.1:(\d+))")))
            return 0;
        return static_cast<uint16_t>(std::stoi(match[1]));
    }

    // The exit status after SIGTERM; -1 when it did not exit normally.
    int terminate() { return child_.stop(SIGTERM); }

private:
    static std::vector<std::string> withProgram(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), TV_SIM_PATH);
        return arguments;
    }

    ChildProcess child_;
};

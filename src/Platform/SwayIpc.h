#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>

// sway's own control socket ($SWAYSOCK): its commands and its output list, for the outputs a
// wlroots desktop lets a client make (a headless output as the extended screen). One thread at a time.
class SwayIpc {
public:
    // Null (logged) where $SWAYSOCK is unset or nothing answers there.
    static std::unique_ptr<SwayIpc> connect();
    ~SwayIpc();
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;

    // Runs one command; false (logged with sway's error) when sway refused it or did not answer.
    bool command(const std::string& text);
    // sway's outputs (get_outputs); nullopt when it did not answer.
    std::optional<nlohmann::json> outputs();
    // The control socket's path, which names this run of sway.
    const std::string& socketPath() const { return path_; }

    // Replies larger than this are no answer sway gives to these requests.
    static constexpr uint32_t kMaxReply = 1 << 20;

private:
    SwayIpc(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    std::optional<nlohmann::json> request(uint32_t type, const std::string& payload);

    int fd_ = -1;
    const std::string path_;
};

#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class DispatchQueue;
class DispatchSource;

// The running copy's own channel: a later launch, which finds the single-instance lock taken, asks
// the running copy through it to bring its window to the front, then leaves. A unix datagram socket
// beside the lock, private to the user (mode 0600, in $XDG_RUNTIME_DIR or the caches folder). Any
// datagram is the one request; what it holds is never read.
class LaunchChannel {
public:
    static constexpr const char* kSocketName = "pelkor.launch";
    // A burst of requests is read this many at a time, then answered once.
    static constexpr int kRequestsPerWake = 32;

    // The channel beside the single-instance lock; nullopt where the lock has no folder.
    static std::optional<std::filesystem::path> channelPath();

    // Listens at the path, in place of a socket an earlier run left there (never of anything else),
    // and runs onLaunch on `queue` for each burst of requests. nullptr (logged) when it cannot.
    static std::unique_ptr<LaunchChannel> listen(const std::filesystem::path& path, std::shared_ptr<DispatchQueue> queue,
                                                 std::function<void()> onLaunch);
    // Stops listening and removes the socket.
    ~LaunchChannel();
    LaunchChannel(const LaunchChannel&) = delete;
    LaunchChannel& operator=(const LaunchChannel&) = delete;

    // From a later copy: asks the copy that listens at the path to come to the front; false when none
    // listens there.
    static bool tell(const std::filesystem::path& path);

private:
    LaunchChannel(std::filesystem::path path, std::unique_ptr<DispatchSource> source);

    const std::filesystem::path path_;
    std::unique_ptr<DispatchSource> source_;
};

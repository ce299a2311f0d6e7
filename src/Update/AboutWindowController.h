#pragma once

#include "Platform/HttpClient.h"
#include "Platform/LimitedDownloads.h"
#include "Update/AboutWindowView.h"
#include "Update/UpdateOffer.h"
#include "Utils/ThreadAffinity.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class NetworkReachability;

// The about window's rules: the running version, the update check against the update service, the
// offer of a newer version, its download with progress, and its install.
//
// Threads: made, used and destroyed on the main thread (asserted). Reachability changes arrive on
// the reachability queue, the check's answer and the download's progress and end on the HTTP
// client's thread, the unpacking runs on the global queue; each moves to the main queue, where
// everything the window shows changes. Every download has a generation number, so what a cancelled
// or replaced download still reports is dropped.
class AboutWindowController {
public:
    enum class State { Plain, Offer, Downloading, Downloaded, Installing };

    struct Services {
        std::shared_ptr<HttpClient> http;
        std::string runningVersion;
        // The update service's query URL; empty when no service is set: nothing is ever offered.
        std::string serviceURL;
        // Where the private update folders are made (the system's temporary folder).
        std::filesystem::path temporaryFolder;
        // Watches the network; null counts as never reachable.
        std::shared_ptr<NetworkReachability> reachability;
        // The install's steps after the archive unpacked, in this order. rebootApp gets the new
        // application's folder, puts it in place and starts it, and says whether it did; only then
        // does the application end.
        std::function<void()> removeRecordingSetting;
        std::function<void()> unsingletonApp;
        std::function<bool(const std::filesystem::path& newApplication)> rebootApp;
        std::function<void()> terminate;
        // Takes the single-instance lock back when the new version could not be put in place.
        std::function<void()> singletonApp;
        // The download's free-space and pace limits; its size cap is kMaxArchiveBytes.
        LimitedDownloads::Limits limits;
    };

    // A version answer is a few dozen bytes; anything far larger is not one.
    static constexpr uint64_t kMaxAnswerBytes = 64 * 1024;
    // The application's archive is some megabytes; a body past this is no update of ours.
    static constexpr uint64_t kMaxArchiveBytes = uint64_t{256} << 20;

    AboutWindowController(AboutWindowView& view, Services services);
    ~AboutWindowController();
    AboutWindowController(const AboutWindowController&) = delete;
    AboutWindowController& operator=(const AboutWindowController&) = delete;

    void windowDidLoad();
    // Shows the window and, while the network is reachable, asks for the latest version.
    void showWindow();
    void okButton();
    // Only closes the window; a running download goes on.
    void cancelButton();

    State state() const { return state_; }
    bool reachableNetwork() const { return reachableNetwork_; }
    bool updataFlag() const { return updataFlag_; }
    const std::optional<std::filesystem::path>& updataAppPath() const { return updataAppPath_; }
    const AboutWindowLook& look() const { return look_; }

private:
    using Answer = std::function<void(AboutWindowController& self, const std::optional<UpdateOffer>& offer)>;
    using Weak = std::weak_ptr<AboutWindowController*>;

    void testInternetConnection();
    // Asks the service; `answer` runs on the main queue unless the request failed.
    void getJSON(Answer answer);
    void checked(const std::optional<UpdateOffer>& offer);
    void startDownload(const UpdateOffer& offer);
    void progressed(uint64_t generation, uint64_t received, uint64_t total);
    void downloaded(uint64_t generation, std::optional<std::filesystem::path> folder, const std::string& error);
    void install();
    void unpacked(const std::string& error);
    void showOffer(const std::string& error);
    void cancelDownload();
    void render() { view_.render(look_); }
    // Runs `task` on the main queue with the controller, unless it has gone by then. Any thread.
    static void onMain(const Weak& weak, std::function<void(AboutWindowController&)> task);
    Weak weak() const { return self_; }

    AboutWindowView& view_;
    const Services services_;
    ThreadAffinity mainThread_;
    AboutWindowLook look_;
    State state_ = State::Plain;
    bool reachableNetwork_ = false;
    bool updataFlag_ = false;
    bool asking_ = false;
    std::optional<std::filesystem::path> updataAppPath_;
    // The checks' answers and the archive, each within its cap.
    std::unique_ptr<LimitedDownloads> answers_;
    std::unique_ptr<LimitedDownloads> archives_;
    std::optional<LimitedDownloads::TransferId> downloadTask_;
    uint64_t generation_ = 0;
    // Work queued on the main queue holds it weakly: once the controller has gone, it does nothing.
    std::shared_ptr<AboutWindowController*> self_;
};

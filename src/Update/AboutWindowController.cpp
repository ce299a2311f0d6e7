#include "Update/AboutWindowController.h"

#include "Platform/FixedWidthQueue.h"
#include "Platform/MainQueue.h"
#include "Utils/LocalizedText.h"
#include "Platform/NetworkReachability.h"
#include "Update/UpdateArchive.h"
#include "Update/UpdateFolder.h"
#include "Update/UpdateVersion.h"
#include "Utils/Log.h"

#include <cassert>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <algorithm>

namespace fs = std::filesystem;

namespace {

constexpr auto kMaxAnswerSize = static_cast<std::streamsize>(AboutWindowController::kMaxAnswerBytes);

LimitedDownloads::Limits capped(LimitedDownloads::Limits limits, uint64_t maxBytes)
{
    limits.maxBytes = maxBytes;
    limits.maxAtOnce = 1;
    return limits;
}

std::string percentText(double value)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%2.1f%%", value);
    return text;
}

std::string versionLine(const char* key, const std::string& version)
{
    return LocalizedText::fill("%@ %@", {LocalizedText::text(key), version});
}

// The body of a completed check, read whole; nullopt when it is too large or unreadable.
std::optional<std::string> readAnswer(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::string body;
    body.resize(kMaxAnswerSize + 1);
    in.read(body.data(), static_cast<std::streamsize>(body.size()));
    if (in.bad() || in.gcount() > kMaxAnswerSize)
        return std::nullopt;
    body.resize(static_cast<size_t>(in.gcount()));
    return body;
}

} // namespace

AboutWindowController::AboutWindowController(AboutWindowView& view, Services services)
    : view_(view), services_(std::move(services)),
      answers_(std::make_unique<LimitedDownloads>(services_.http, capped(services_.limits, kMaxAnswerBytes))),
      archives_(std::make_unique<LimitedDownloads>(services_.http, capped(services_.limits, kMaxArchiveBytes))),
      self_(std::make_shared<AboutWindowController*>(this))
{
    assert(mainThread_.holds());
    testInternetConnection();
}

AboutWindowController::~AboutWindowController()
{
    assert(mainThread_.holds());
    self_.reset();
    if (services_.reachability)
        services_.reachability->stopNotifier();
    answers_.reset();
    archives_.reset();
}

void AboutWindowController::onMain(const Weak& weak, std::function<void(AboutWindowController&)> task)
{
    MainQueue::shared()->async([weak, task = std::move(task)] {
        if (const auto self = weak.lock())
            task(**self);
    });
}

void AboutWindowController::testInternetConnection()
{
    const auto& reachability = services_.reachability;
    if (!reachability)
        return;
    reachableNetwork_ = reachability->currentReachabilityStatus() != NetworkReachability::NotReachable;
    // On the reachability queue.
    reachability->setReachableBlock([weak = weak()](NetworkReachability&) {
        onMain(weak, [](AboutWindowController& self) { self.reachableNetwork_ = true; });
    });
    reachability->setUnreachableBlock([weak = weak()](NetworkReachability&) {
        onMain(weak, [](AboutWindowController& self) { self.reachableNetwork_ = false; });
    });
    reachability->startNotifier();
}

void AboutWindowController::windowDidLoad()
{
    assert(mainThread_.holds());
    look_.progressVisible = false;
    look_.percentageVisible = false;
    look_.tipsVisible = false;
    look_.cancelVisible = false;
    look_.versionText = versionLine("STRING_CURRENT_VERSION", services_.runningVersion);
    look_.aboutText = LocalizedText::text("STRING_ABOUT");
    look_.cancelTitle = LocalizedText::text("STRING_CANCEL");
    look_.okTitle = LocalizedText::text("STRING_OK");
    render();
}

void AboutWindowController::showWindow()
{
    assert(mainThread_.holds());
    view_.showWindow();
    if (state_ != State::Plain && state_ != State::Offer)
        return;
    if (reachableNetwork_ && !services_.serviceURL.empty()) {
        getJSON([](AboutWindowController& self, const std::optional<UpdateOffer>& offer) { self.checked(offer); });
        return;
    }
    look_.progressVisible = false;
    look_.percentageVisible = false;
    look_.tipsVisible = false;
    look_.versionText = versionLine("STRING_CURRENT_VERSION", services_.runningVersion);
    look_.versionAlignment = AboutWindowLook::kCentred;
    look_.okTitle = LocalizedText::text("STRING_OK");
    look_.cancelVisible = false;
    render();
}

void AboutWindowController::getJSON(Answer answer)
{
    if (asking_)
        return;
    asking_ = true;
    // On the HTTP client's thread.
    answers_->download(
        services_.serviceURL, services_.temporaryFolder, {},
        [weak = weak(), answer = std::move(answer)](HttpDownloadResult result) {
            if (!result.file) {
                PLOG("the update check failed: %s", result.error ? result.error->description.c_str() : "?");
                onMain(weak, [](AboutWindowController& self) { self.asking_ = false; });
                return;
            }
            const auto body = readAnswer(result.file->scratchPath());
            std::optional<UpdateOffer> offer = body ? UpdateOffer::fromAnswer(*body) : std::nullopt;
            onMain(weak, [answer, offer = std::move(offer)](AboutWindowController& self) {
                self.asking_ = false;
                answer(self, offer);
            });
        });
}

void AboutWindowController::checked(const std::optional<UpdateOffer>& offer)
{
    if (state_ != State::Plain && state_ != State::Offer)
        return;
    if (offer && UpdateVersion::isNewer(offer->version, services_.runningVersion)) {
        state_ = State::Offer;
        look_.tipsText = LocalizedText::text("STRING_UPDATE_VERSION");
        look_.tipsVisible = true;
        look_.versionText = versionLine("STRING_LASTEST_VERSION", offer->version);
        look_.versionAlignment = AboutWindowLook::kLeft;
        look_.cancelVisible = true;
        look_.okTitle = LocalizedText::text("STRING_UPDATE");
        updataFlag_ = true;
    } else {
        state_ = State::Plain;
        look_.versionVisible = true;
        look_.okTitle = LocalizedText::text("STRING_OK");
    }
    render();
}

void AboutWindowController::okButton()
{
    assert(mainThread_.holds());
    if (!reachableNetwork_ || !updataFlag_ || state_ == State::Plain) {
        view_.closeWindow();
        return;
    }
    switch (state_) {
    case State::Offer:
        // The latest answer names the archive to fetch.
        getJSON([](AboutWindowController& self, const std::optional<UpdateOffer>& offer) {
            if (self.state_ != State::Offer)
                return;
            if (offer)
                self.startDownload(*offer);
            else
                self.showOffer(LocalizedText::text("STRING_UPDATE_FAILED"));
        });
        break;
    case State::Downloading:
        cancelDownload();
        break;
    case State::Downloaded:
        install();
        break;
    case State::Plain:
    case State::Installing:
        break;
    }
}

void AboutWindowController::cancelButton()
{
    assert(mainThread_.holds());
    view_.closeWindow();
}

void AboutWindowController::startDownload(const UpdateOffer& offer)
{
    const auto folder = UpdateFolder::make(services_.temporaryFolder);
    if (!folder) {
        showOffer(LocalizedText::text("STRING_UPDATE_FAILED"));
        return;
    }
    state_ = State::Downloading;
    updataAppPath_.reset();
    look_.errorText.clear();
    look_.tipsText = LocalizedText::text("STRING_DOWNLOAD_VERSION");
    look_.versionAlignment = AboutWindowLook::kCentred;
    look_.versionVisible = false;
    look_.cancelVisible = false;
    look_.tipsVisible = true;
    look_.progressVisible = true;
    look_.progressValue = 0;
    look_.progressIndeterminate = false;
    look_.percentageVisible = true;
    look_.percentageText = percentText(0);
    look_.okTitle = LocalizedText::text("STRING_CANCEL");
    render();

    const uint64_t generation = ++generation_;
    // Progress and the end come on the HTTP client's thread.
    downloadTask_ = archives_->download(
        offer.url, *folder,
        [weak = weak(), generation](uint64_t received, uint64_t total) {
            onMain(weak, [=](AboutWindowController& self) { self.progressed(generation, received, total); });
        },
        [weak = weak(), generation, folder = *folder](HttpDownloadResult result) {
            std::optional<fs::path> stored;
            std::string error = result.error ? result.error->description : std::string();
            if (result.file) {
                if (const auto failed = result.file->place(folder / UpdateFolder::kArchiveName))
                    error = "cannot store the archive: " + failed->description;
                else
                    stored = folder;
            }
            onMain(weak, [generation, stored = std::move(stored), error](AboutWindowController& self) {
                self.downloaded(generation, stored, error);
            });
        });
}

void AboutWindowController::progressed(uint64_t generation, uint64_t received, uint64_t total)
{
    if (generation != generation_ || state_ != State::Downloading)
        return;
    // An unknown size gives a moving bar and no percentage; the archive can still be installed.
    look_.progressIndeterminate = total == 0;
    if (total == 0) {
        look_.percentageText.clear();
    } else {
        look_.progressValue = std::min(100.0, static_cast<double>(received) * 100.0 / static_cast<double>(total));
        look_.percentageText = percentText(look_.progressValue);
    }
    render();
}

void AboutWindowController::downloaded(uint64_t generation, std::optional<fs::path> folder, const std::string& error)
{
    if (generation != generation_ || state_ != State::Downloading)
        return;
    downloadTask_.reset();
    if (!folder) {
        PLOG("the update download failed: %s", error.c_str());
        showOffer(LocalizedText::text("STRING_UPDATE_FAILED"));
        return;
    }
    state_ = State::Downloaded;
    updataAppPath_ = std::move(folder);
    look_.progressIndeterminate = false;
    look_.progressValue = 100;
    look_.percentageText = percentText(100);
    look_.okTitle = LocalizedText::text("STRING_INSTALL");
    look_.tipsText = LocalizedText::text("STRING_READY_INSTALL");
    render();
}

void AboutWindowController::cancelDownload()
{
    if (downloadTask_)
        archives_->cancel(*downloadTask_);
    downloadTask_.reset();
    ++generation_;
    showOffer({});
}

void AboutWindowController::showOffer(const std::string& error)
{
    state_ = State::Offer;
    look_.percentageText = "0%";
    look_.progressValue = 0;
    look_.progressIndeterminate = false;
    look_.tipsText = LocalizedText::text("STRING_UPDATE_VERSION");
    look_.versionAlignment = AboutWindowLook::kLeft;
    look_.cancelVisible = true;
    look_.versionVisible = true;
    look_.tipsVisible = true;
    look_.progressVisible = false;
    look_.okTitle = LocalizedText::text("STRING_UPDATE");
    look_.okEnabled = true;
    look_.errorText = error;
    render();
}

void AboutWindowController::install()
{
    state_ = State::Installing;
    look_.okEnabled = false;
    render();
    // "blocking": unzip may take a while; nothing of the running program changes before it succeeded.
    FixedWidthQueue::blockingCalls()->async([weak = weak(), folder = *updataAppPath_] {
        std::string error = UpdateArchive::unpack(folder, UpdateFolder::kArchiveName);
        onMain(weak, [error = std::move(error)](AboutWindowController& self) { self.unpacked(error); });
    });
}

void AboutWindowController::unpacked(const std::string& error)
{
    if (state_ != State::Installing)
        return;
    if (!error.empty()) {
        PLOG("the update cannot be installed: %s", error.c_str());
        updataAppPath_.reset();
        showOffer(LocalizedText::text("STRING_INSTALL_FAILED"));
        return;
    }
    if (services_.removeRecordingSetting)
        services_.removeRecordingSetting();
    if (services_.unsingletonApp)
        services_.unsingletonApp();
    if (services_.rebootApp && !services_.rebootApp(*updataAppPath_ / UpdateArchive::kApplicationName)) {
        PLOG("the new version could not be put in place; the running one goes on");
        // The running copy stays the one copy: a second launch must still find it.
        if (services_.singletonApp)
            services_.singletonApp();
        updataAppPath_.reset();
        showOffer(LocalizedText::text("STRING_INSTALL_FAILED"));
        return;
    }
    if (services_.terminate)
        services_.terminate();
}

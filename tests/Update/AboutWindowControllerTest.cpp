#include "Platform/FakeReachabilityProbe.h"
#include "Platform/MainLoopFixture.h"
#include "Update/AboutWindowController.h"
#include "Platform/NetworkReachability.h"
#include "Update/UpdateFolder.h"
#include "Update/UpdateServiceFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;
using State = AboutWindowController::State;

class RecordingAboutView final : public AboutWindowView {
public:
    std::vector<AboutWindowLook> looks;
    std::vector<std::string> calls;
    void render(const AboutWindowLook& look) override { looks.push_back(look); }
    void showWindow() override { calls.push_back("show"); }
    void closeWindow() override { calls.push_back("close"); }
};

// The about window's rules against the test update service over https on 127.0.0.1, with a private
// temporary folder, a fake probe that says the network is up, and the install steps recorded.
class AboutWindowControllerTest : public MainLoopFixture {
protected:
    static void SetUpTestSuite() { service = std::make_unique<UpdateService>(); }
    static void TearDownTestSuite() { service.reset(); }

    void SetUp() override
    {
        ASSERT_TRUE(service->ready()) << "the test update service did not start";
        probe->flags = NetworkReachability::kReachable;
    }

    void make(const std::string& path, const std::string& runningVersion = "1.9")
    {
        AboutWindowController::Services services;
        services.http = http;
        services.runningVersion = runningVersion;
        services.serviceURL = path.empty() ? std::string() : service->url(path);
        services.temporaryFolder = temp.path();
        services.reachability = NetworkReachability::initWithReachabilityRef(std::make_unique<FakeReachabilityProbe>(probe));
        services.removeRecordingSetting = [this] { steps.push_back("removeRecordingSetting"); };
        services.unsingletonApp = [this] { steps.push_back("unsingletonApp"); };
        services.rebootApp = [this](const fs::path& app) {
            steps.push_back("rebootApp");
            newApplication = app;
            return rebootSucceeds;
        };
        services.terminate = [this] { steps.push_back("terminate"); };
        services.singletonApp = [this] { steps.push_back("singletonApp"); };
        about = std::make_unique<AboutWindowController>(view, std::move(services));
        about->windowDidLoad();
    }

    // Runs the main loop until the HTTP client has ended `count` transfers and their answers are in.
    void settle(int count)
    {
        ASSERT_TRUE(loop->runUntil([&] { return http->completed >= count; }, 20s)) << "no answer came";
        loop->runUntilIdle();
    }
    void waitFor(State state)
    {
        ASSERT_TRUE(loop->runUntil([&] { return about->state() == state; }, 20s))
            << "state " << static_cast<int>(about->state()) << " instead of " << static_cast<int>(state);
    }
    void offerAndDownload(const std::string& kind)
    {
        make("/version/2.0/" + kind);
        about->showWindow();
        waitFor(State::Offer);
        about->okButton();
        waitFor(State::Downloading);
    }
    const AboutWindowLook& look() const { return view.looks.back(); }
    std::vector<fs::path> updateFolders() const
    {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(temp.path()))
            if (entry.path().filename().string().rfind(UpdateFolder::kPrefix, 0) == 0)
                found.push_back(entry.path());
        return found;
    }

    static inline std::unique_ptr<UpdateService> service;
    std::shared_ptr<CountingHttpClient> http = std::make_shared<CountingHttpClient>(service->caFile());
    std::shared_ptr<FakeReachabilityProbe::Shared> probe = std::make_shared<FakeReachabilityProbe::Shared>();
    TempDir temp;
    RecordingAboutView view;
    std::vector<std::string> steps;
    fs::path newApplication;
    bool rebootSucceeds = true;
    std::unique_ptr<AboutWindowController> about;
};

TEST_F(AboutWindowControllerTest, ANewerVersionIsOfferedAndNumbersCompareAsNumbers)
{
    make("/version/1.10/good", "1.9");
    EXPECT_EQ(look().versionText, "Version 1.9");
    EXPECT_FALSE(look().cancelVisible);
    about->showWindow();
    settle(1);
    ASSERT_EQ(about->state(), State::Offer) << "1.10 is newer than 1.9";
    EXPECT_TRUE(about->updataFlag());
    EXPECT_EQ(look().versionText, "Latest version 1.10");
    EXPECT_EQ(look().versionAlignment, AboutWindowLook::kLeft);
    EXPECT_EQ(look().tipsText, "A newer version is available");
    EXPECT_TRUE(look().tipsVisible);
    EXPECT_TRUE(look().cancelVisible);
    EXPECT_EQ(look().okTitle, "Update");
    EXPECT_EQ(view.calls, std::vector<std::string>{"show"});

    about->cancelButton();
    EXPECT_EQ(view.calls.back(), "close");
}

TEST_F(AboutWindowControllerTest, TheSameOrAnOlderVersionOffersNothing)
{
    for (const char* path : {"/version/1.10/good", "/version/1.9/good"}) {
        SCOPED_TRACE(path);
        const int before = http->completed;
        make(path, "1.10");
        about->showWindow();
        settle(before + 1);
        EXPECT_EQ(about->state(), State::Plain);
        EXPECT_EQ(look().okTitle, "OK");
        EXPECT_FALSE(look().cancelVisible);
        about->okButton();
        EXPECT_EQ(view.calls.back(), "close") << "OK closes the plain window";
    }
}

// Only a JSON object with a text version and an https archive URL is an offer.
TEST_F(AboutWindowControllerTest, AnswersThatAreNoHttpsOfferOfferNothing)
{
    for (const char* path : {"/bad-json", "/not-object", "/http/9.0", "/file/9.0"}) {
        SCOPED_TRACE(path);
        const int before = http->completed;
        make(path);
        about->showWindow();
        settle(before + 1);
        EXPECT_EQ(about->state(), State::Plain);
        EXPECT_FALSE(about->updataFlag());
        EXPECT_EQ(look().okTitle, "OK");
    }
}

TEST_F(AboutWindowControllerTest, AFailedCheckChangesNothing)
{
    make("/missing");
    const size_t looks = view.looks.size();
    about->showWindow();
    settle(1);
    EXPECT_EQ(about->state(), State::Plain);
    EXPECT_EQ(view.looks.size(), looks) << "a 404 leaves the window as it was";
}

TEST_F(AboutWindowControllerTest, WithoutNetworkOrServiceNoCheckIsMade)
{
    probe->flags = 0;
    make("/version/2.0/good");
    about->showWindow();
    EXPECT_EQ(look().versionText, "Version 1.9");
    EXPECT_EQ(look().versionAlignment, AboutWindowLook::kCentred);
    EXPECT_FALSE(look().cancelVisible);

    probe->flags = NetworkReachability::kReachable;
    make("");
    about->showWindow();
    loop->runUntilIdle();
    EXPECT_EQ(http->started, 0) << "no service, or no network: nothing is asked";
    about->okButton();
    EXPECT_EQ(view.calls.back(), "close");
}

TEST_F(AboutWindowControllerTest, TheNetworkComingUpAllowsTheCheck)
{
    probe->flags = 0;
    make("/version/2.0/good");
    EXPECT_FALSE(about->reachableNetwork());
    FakeReachabilityProbe::change(*probe, NetworkReachability::kReachable);
    ASSERT_TRUE(loop->runUntil([&] { return about->reachableNetwork(); }));
    about->showWindow();
    settle(1);
    EXPECT_EQ(about->state(), State::Offer);
    FakeReachabilityProbe::change(*probe, 0);
    ASSERT_TRUE(loop->runUntil([&] { return !about->reachableNetwork(); }));
}

TEST_F(AboutWindowControllerTest, DownloadsIntoAPrivateFolderAndInstallsInOrder)
{
    const fs::path earlier = temp / "RURerav-earlier";
    fs::create_directory(earlier);
    fs::permissions(earlier, fs::perms::owner_all, fs::perm_options::replace);
    offerAndDownload("good");
    EXPECT_EQ(look().okTitle, "Cancel");
    EXPECT_EQ(look().tipsText, "Downloading the new version");
    EXPECT_TRUE(look().progressVisible);
    EXPECT_FALSE(look().versionVisible);
    waitFor(State::Downloaded);
    EXPECT_FALSE(fs::exists(earlier)) << "an earlier update folder of ours goes";

    ASSERT_TRUE(about->updataAppPath());
    const fs::path folder = *about->updataAppPath();
    struct stat status{};
    ASSERT_EQ(::stat(folder.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    EXPECT_TRUE(fs::exists(folder / "RURerav.zip"));
    EXPECT_EQ(look().okTitle, "Install");
    EXPECT_EQ(look().tipsText, "The new version is ready to install");
    EXPECT_EQ(look().percentageText, "100.0%");
    bool sawProgress = false;
    for (const auto& shown : view.looks)
        sawProgress |= shown.percentageText.size() > 1 && shown.percentageText.back() == '%';
    EXPECT_TRUE(sawProgress);

    EXPECT_TRUE(steps.empty());
    about->okButton();
    EXPECT_FALSE(look().okEnabled) << "no second install while unpacking";
    ASSERT_TRUE(loop->runUntil([&] { return steps.size() == 4; }, 20s));
    EXPECT_EQ(steps, (std::vector<std::string>{"removeRecordingSetting", "unsingletonApp", "rebootApp", "terminate"}));
    EXPECT_EQ(newApplication, folder / "Pelkor.app");
    EXPECT_TRUE(fs::exists(folder / "Pelkor.app" / "bin" / "pelkor"));
}

TEST_F(AboutWindowControllerTest, ANewVersionThatCannotBePutInPlaceDoesNotEndTheApplication)
{
    rebootSucceeds = false;
    offerAndDownload("good");
    waitFor(State::Downloaded);
    about->okButton();
    waitFor(State::Offer);
    // The lock given up for the new version is taken back: the running copy stays the one copy.
    EXPECT_EQ(steps, (std::vector<std::string>{"removeRecordingSetting", "unsingletonApp", "rebootApp", "singletonApp"}));
    EXPECT_EQ(look().errorText, "The new version could not be installed");
}

TEST_F(AboutWindowControllerTest, ADownloadOfUnknownSizeShowsAMovingBarAndCanBeInstalled)
{
    offerAndDownload("unsized");
    waitFor(State::Downloaded);
    bool indeterminate = false;
    for (const auto& shown : view.looks)
        indeterminate |= shown.progressIndeterminate;
    EXPECT_TRUE(indeterminate);
    EXPECT_FALSE(look().progressIndeterminate);
    EXPECT_EQ(look().okTitle, "Install");
}

TEST_F(AboutWindowControllerTest, ACutDownloadReturnsToTheOfferWithAnErrorLine)
{
    offerAndDownload("cut");
    waitFor(State::Offer);
    EXPECT_EQ(look().errorText, "The download failed; try again later");
    EXPECT_EQ(look().okTitle, "Update");
    EXPECT_TRUE(look().cancelVisible);
    EXPECT_FALSE(about->updataAppPath());
    EXPECT_TRUE(steps.empty());
}

TEST_F(AboutWindowControllerTest, AnAnswerOrAnArchivePastItsCapIsRefused)
{
    make("/huge-answer");
    about->showWindow();
    settle(1);
    EXPECT_EQ(about->state(), State::Plain) << "an answer of a megabyte is no version answer";

    offerAndDownload("huge");
    waitFor(State::Offer);
    EXPECT_EQ(look().errorText, "The download failed; try again later");
    EXPECT_FALSE(about->updataAppPath());
}

TEST_F(AboutWindowControllerTest, CancelDropsTheLateProgressAndADownloadCanStartAgain)
{
    offerAndDownload("slowfirst");
    const size_t started = view.looks.size();
    ASSERT_TRUE(loop->runUntil([&] { return view.looks.size() > started; }, 20s)) << "no progress came";
    about->okButton();
    EXPECT_EQ(about->state(), State::Offer);
    EXPECT_EQ(look().percentageText, "0%");
    EXPECT_EQ(look().okTitle, "Update");
    EXPECT_TRUE(look().errorText.empty());
    const size_t cancelled = view.looks.size();
    // Whatever the cancelled transfer still reports finds a newer generation.
    loop->runUntil([] { return false; }, 300ms);
    EXPECT_EQ(view.looks.size(), cancelled);
    EXPECT_EQ(about->state(), State::Offer);

    about->okButton();
    waitFor(State::Downloading);
    waitFor(State::Downloaded);
    EXPECT_EQ(updateFolders().size(), 1u) << "the cancelled download's folder went with the new start";
}

TEST_F(AboutWindowControllerTest, AnArchiveThatWouldWriteOutsideItsFolderIsNotInstalled)
{
    for (const char* kind : {"slip", "link", "notzip"}) {
        SCOPED_TRACE(kind);
        steps.clear();
        offerAndDownload(kind);
        waitFor(State::Downloaded);
        about->okButton();
        waitFor(State::Offer);
        EXPECT_EQ(look().errorText, "The new version could not be installed");
        EXPECT_TRUE(steps.empty()) << "nothing of the running program changes";
        EXPECT_FALSE(about->updataAppPath());
        EXPECT_FALSE(fs::exists(temp / "outside"));
        EXPECT_FALSE(fs::exists(temp / "tmp"));
    }
}

TEST_F(AboutWindowControllerTest, OnlyOurOwnEarlierFoldersAreRemoved)
{
    const fs::path ours = temp / "RURerav2020-01-01-00:00:00-abcdef";
    const fs::path open = temp / "RURerav-open";
    const fs::path file = temp / "RURerav.txt";
    const fs::path target = temp / "kept";
    const fs::path link = temp / "RURerav-link";
    fs::create_directory(ours);
    fs::permissions(ours, fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory(open);
    fs::permissions(open, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                    fs::perm_options::replace);
    std::ofstream(file) << "x";
    fs::create_directory(target);
    fs::permissions(target, fs::perms::owner_all, fs::perm_options::replace);
    std::ofstream(target / "inside") << "x";
    fs::create_directory_symlink(target, link);

    const auto made = UpdateFolder::make(temp.path());
    ASSERT_TRUE(made);
    EXPECT_FALSE(fs::exists(ours));
    EXPECT_TRUE(fs::exists(open));
    EXPECT_TRUE(fs::exists(file));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists(target / "inside")) << "a link is never followed";
}

} // namespace

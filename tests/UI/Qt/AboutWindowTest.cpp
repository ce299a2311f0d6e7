#include "QtTestSupport.h"

#include "Platform/FakeHttpClient.h"
#include "Platform/FakeReachabilityProbe.h"
#include "Platform/NetworkReachability.h"
#include "UI/Qt/AboutWindow.h"
#include "Utils/TestFolders.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

namespace {

using State = AboutWindowController::State;

const std::string kService = "https://updates.example.invalid:8502/mirovan/getversion?app_id=ps&apptype=mac";
const std::string kArchive = "https://updates.example.invalid/new.zip";
const std::string kAnswer = R"({"version":"2.0","url":")" + kArchive + "\"}";

// The about window on the offscreen platform, with a fake HTTP client that the test answers and a
// network that is up.
class AboutWindowTest : public QtLoopFixture {
protected:
    AboutWindowTest()
    {
        probe->flags = NetworkReachability::kReachable;
        AboutWindowController::Services services;
        services.http = http;
        services.runningVersion = "1.9";
        services.serviceURL = kService;
        services.temporaryFolder = temp.path();
        services.reachability = NetworkReachability::initWithReachabilityRef(std::make_unique<FakeReachabilityProbe>(probe));
        services.terminate = [this] { terminated = true; };
        window = std::make_unique<AboutWindow>(nullptr, std::move(services));
    }

    template <typename T>
    T* control(const char* name) const
    {
        T* found = window->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shows(const char* name) const { return control<QWidget>(name)->isVisibleTo(window.get()); }
    QString text(const char* name) const { return control<QLabel>(name)->text(); }
    QString title(const char* name) const { return control<QPushButton>(name)->text(); }
    void waitFor(State state)
    {
        ASSERT_TRUE(processUntil([&] { return window->controller().state() == state; }));
    }
    void answerCheck()
    {
        http->succeed(kService, kAnswer);
        waitFor(State::Offer);
    }

    TempDir temp;
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeReachabilityProbe::Shared> probe = std::make_shared<FakeReachabilityProbe::Shared>();
    bool terminated = false;
    std::unique_ptr<AboutWindow> window;
};

TEST_F(AboutWindowTest, PlainThenOffer)
{
    EXPECT_EQ(text("verTextField"), "Version 1.9");
    EXPECT_EQ(text("aboutText"), "About");
    EXPECT_EQ(title("okButton"), "OK");
    EXPECT_FALSE(shows("cancelButton"));
    EXPECT_FALSE(shows("updateProgressIndicator"));
    EXPECT_FALSE(shows("updatePercentageTextField"));
    EXPECT_FALSE(shows("downloadTipsTextField"));
    EXPECT_FALSE(shows("errorText"));

    window->controller().showWindow();
    ASSERT_TRUE(window->isVisible());
    saveScreenshot(*window, "about-plain");
    expectTextsFromTheTable(*window, {"1.9"});
    answerCheck();
    EXPECT_EQ(text("verTextField"), "Latest version 2.0");
    EXPECT_TRUE(control<QLabel>("verTextField")->alignment() & Qt::AlignLeft);
    EXPECT_EQ(text("downloadTipsTextField"), "A newer version is available");
    EXPECT_TRUE(shows("downloadTipsTextField"));
    EXPECT_TRUE(shows("cancelButton"));
    EXPECT_EQ(title("cancelButton"), "Cancel");
    EXPECT_EQ(title("okButton"), "Update");
    saveScreenshot(*window, "about-offer");
    expectTextsFromTheTable(*window, {"1.9", "2.0"});

    QTest::mouseClick(control<QPushButton>("cancelButton"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(AboutWindowTest, DownloadingDownloadedAndAFailedInstall)
{
    window->controller().showWindow();
    answerCheck();
    QTest::mouseClick(control<QPushButton>("okButton"), Qt::LeftButton);
    http->succeed(kService, kAnswer);
    waitFor(State::Downloading);
    EXPECT_TRUE(shows("updateProgressIndicator"));
    EXPECT_TRUE(shows("updatePercentageTextField"));
    EXPECT_FALSE(shows("cancelButton"));
    EXPECT_FALSE(shows("verTextField"));
    EXPECT_EQ(title("okButton"), "Cancel");

    http->progress(kArchive, 512, 1024);
    ASSERT_TRUE(processUntil([&] { return text("updatePercentageTextField") == "50.0%"; }));
    EXPECT_EQ(control<QProgressBar>("updateProgressIndicator")->value(), 50);
    saveScreenshot(*window, "about-downloading");
    http->progress(kArchive, 2048, 0);
    ASSERT_TRUE(processUntil([&] { return control<QProgressBar>("updateProgressIndicator")->maximum() == 0; }))
        << "an unknown size gives a moving bar";

    http->succeed(kArchive, "not a zip archive");
    waitFor(State::Downloaded);
    EXPECT_EQ(title("okButton"), "Install");
    EXPECT_EQ(text("downloadTipsTextField"), "The new version is ready to install");
    EXPECT_EQ(control<QProgressBar>("updateProgressIndicator")->maximum(), 100);
    EXPECT_EQ(text("updatePercentageTextField"), "100.0%");
    saveScreenshot(*window, "about-downloaded");

    QTest::mouseClick(control<QPushButton>("okButton"), Qt::LeftButton);
    EXPECT_FALSE(control<QPushButton>("okButton")->isEnabled()) << "the install runs";
    waitFor(State::Offer);
    EXPECT_TRUE(shows("errorText"));
    EXPECT_EQ(text("errorText"), "The new version could not be installed");
    EXPECT_TRUE(control<QPushButton>("okButton")->isEnabled());
    EXPECT_EQ(title("okButton"), "Update");
    EXPECT_FALSE(terminated);
    saveScreenshot(*window, "about-install-failed");
}

TEST_F(AboutWindowTest, OkWhileDownloadingCancelsBackToTheOffer)
{
    window->controller().showWindow();
    answerCheck();
    QTest::mouseClick(control<QPushButton>("okButton"), Qt::LeftButton);
    http->succeed(kService, kAnswer);
    waitFor(State::Downloading);
    QTest::mouseClick(control<QPushButton>("okButton"), Qt::LeftButton);
    EXPECT_EQ(window->controller().state(), State::Offer);
    EXPECT_EQ(http->cancelled.size(), 1u);
    EXPECT_EQ(text("updatePercentageTextField"), "0%");
    EXPECT_FALSE(shows("updateProgressIndicator"));
    EXPECT_TRUE(shows("cancelButton"));
    EXPECT_EQ(title("okButton"), "Update");
}

} // namespace

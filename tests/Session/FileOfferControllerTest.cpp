#include "Platform/FakeHttpClient.h"
#include "Platform/MainLoopFixture.h"
#include "Platform/ProgressRelay.h"
#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Session/FileOfferController.h"
#include "Session/RecordingView.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using namespace std::chrono_literals;

const std::string kBase = "http://192.168.50.7:9000/share";
const std::string kFetchBase = "http://10.1.2.3:9000/share";

// The offer concern with a recording view, a fake HTTP client, the TV at 10.1.2.3 and a private
// download folder, on the virtual clock of the test's main loop.
class FileOfferControllerTest : public MainLoopFixture {
protected:
    FileOfferControllerTest()
    {
        FileOfferController::Services services;
        services.send = [this](int type, std::vector<uint8_t> payload) { sent.push_back(describe(type, payload)); };
        services.tvAddress = [] { return std::optional<std::string>("10.1.2.3"); };
        services.http = http;
        services.downloadFolder = [this] { return std::optional<fs::path>(folder.path()); };
        // The test's disk, however full, has room.
        services.limits.freeSpace = [](const fs::path&) { return std::optional<uint64_t>(uint64_t{1} << 40); };
        offers = std::make_unique<FileOfferController>(view, std::move(services));
    }

    static std::string describe(int type, const std::vector<uint8_t>& payload)
    {
        switch (type) {
        case kMsgFileShareAccept:
            return "accept " + std::to_string(Int32Payload::decode(payload).value);
        case kMsgFileShareReject:
            return "reject";
        case kMsgFileShareFileDone:
            return "done";
        case kMsgFileShareComplete:
            return "complete";
        default:
            return "type " + std::to_string(type);
        }
    }

    static std::string offer(const std::vector<std::pair<std::string, std::string>>& files, const std::string& base = kBase)
    {
        std::string json = R"({"url":")" + base + R"(","files":[)";
        for (size_t i = 0; i < files.size(); ++i)
            json += (i ? "," : "") + std::string(R"({"id":")") + files[i].first + R"(","name":")" + files[i].second + "\"}";
        return json + "]}";
    }

    // Hands an offer over as the link does, and waits until it reached the main queue.
    void offerFromTv(const std::string& json)
    {
        offers->tvShareFile2pc(json);
        loop->runUntilIdle();
    }
    // An offer, answered.
    void accept(const std::string& json)
    {
        offerFromTv(json);
        offers->agreeFileShare();
    }

    std::string contents(const std::string& name) const
    {
        std::ifstream in(folder / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    std::vector<std::string> viewCalls(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& call : view.calls)
            if (call.rfind(prefix, 0) == 0)
                found.push_back(call);
        return found;
    }

    TempDir folder;
    RecordingView view;
    std::vector<std::string> sent;
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::unique_ptr<FileOfferController> offers;
};

// Silence rejects once, after the tenth tick, and says so; a second offer meanwhile makes no second
// countdown.
TEST_F(FileOfferControllerTest, SilenceRejectsOnceAfterTenTicks)
{
    offerFromTv(offer({{"1", "a.txt"}, {"2", "b.txt"}}));
    offerFromTv(offer({{"9", "ignored.txt"}}));
    EXPECT_EQ(viewCalls("showFileShareWindow"), std::vector<std::string>{"showFileShareWindow 2 10"});
    loop->advance(9s);
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(viewCalls("showCountdown").back(), "showCountdown 1");
    loop->advance(1s);
    EXPECT_EQ(sent, std::vector<std::string>{"reject"});
    EXPECT_EQ(view.calls.back(), "showOfferTimedOut");
    EXPECT_EQ(viewCalls("hideFileShareWindow").size(), 1u);
    loop->advance(30s);
    EXPECT_EQ(sent, std::vector<std::string>{"reject"});
    EXPECT_FALSE(offers->isWaitingForAnswer());

    // The answer ended the wait: the next offer counts down afresh.
    offerFromTv(offer({{"3", "c.txt"}}));
    offers->rejectFileShare();
    offers->rejectFileShare();
    loop->advance(20s);
    EXPECT_EQ(sent, (std::vector<std::string>{"reject", "reject"}));
}

// Accepting sends the count before any download; each stored file is reported, then the offer once.
TEST_F(FileOfferControllerTest, AcceptReportsEachStoredFileThenTheOffer)
{
    accept(offer({{"a1", "one.txt"}, {"a2", "two.txt"}, {"a3", "three.txt"}}));
    EXPECT_EQ(sent, std::vector<std::string>{"accept 3"});
    ASSERT_EQ(http->pending.size(), 3u);
    EXPECT_EQ(http->pending[0].url, kFetchBase + "/a1");
    EXPECT_EQ(http->pending[0].folder, folder.path());
    loop->advance(20s);
    EXPECT_EQ(sent, std::vector<std::string>{"accept 3"}) << "the countdown ended with the answer";

    http->succeed(kFetchBase + "/a2", "second");
    http->fail(kFetchBase + "/a1", 404);
    http->succeed(kFetchBase + "/a3", "third");
    loop->runUntilIdle();
    EXPECT_EQ(sent, (std::vector<std::string>{"accept 3", "done", "done", "complete"}));
    EXPECT_EQ(viewCalls("showDownloadResult"), std::vector<std::string>{"showDownloadResult 2 1"});
    EXPECT_EQ(contents("two.txt"), "second");
    EXPECT_EQ(contents("three.txt"), "third");
    EXPECT_FALSE(fs::exists(folder / "one.txt"));
    // Only the stored files are left: no scratch file.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
}

// The bytes received reach the offer window at most once per relay interval and file, the latest count
// always; a count still on its way when the file completes does not undo its end. The result then takes
// the window's place.
TEST_F(FileOfferControllerTest, DownloadProgressReachesTheWindowAtABoundedRate)
{
    accept(offer({{"a", "a.bin"}, {"b", "b.bin"}}));
    ASSERT_EQ(view.downloads.files.size(), 2u);
    EXPECT_TRUE(viewCalls("hideFileShareWindow").empty()) << "the window stays for the progress";
    http->progress(kFetchBase + "/a", 1000, 100'000);
    loop->runUntilIdle();
    const size_t shown = view.downloadsShown;
    EXPECT_EQ(view.downloads.files[0].done, 1000u);
    for (uint64_t received = 2; received <= 100; ++received)
        http->progress(kFetchBase + "/a", received * 1000, 100'000);
    loop->runUntilIdle();
    EXPECT_EQ(view.downloadsShown, shown) << "the next count waits for the interval";
    loop->advance(ProgressRelay::kInterval);
    EXPECT_EQ(view.downloadsShown, shown + 1);
    EXPECT_EQ(view.downloads.files[0].done, 100'000u);
    EXPECT_EQ(view.downloads.files[0].size, 100'000u);
    EXPECT_EQ(view.downloads.files[0].state, TransferProgress::State::Moving);
    EXPECT_EQ(view.downloads.totalPermille(), 0) << "b's size is not known yet";

    http->progress(kFetchBase + "/b", 1, 0);
    loop->runUntilIdle();
    http->progress(kFetchBase + "/b", 5, 0);
    http->succeed(kFetchBase + "/b", "bb");
    loop->advance(std::chrono::seconds(1));
    EXPECT_EQ(view.downloads.files[1].state, TransferProgress::State::Done);
    EXPECT_EQ(view.downloads.files[1].done, 2u);

    http->fail(kFetchBase + "/a", 500);
    loop->runUntilIdle();
    EXPECT_EQ(view.downloads.files[0].state, TransferProgress::State::Failed);
    EXPECT_EQ(std::vector<std::string>(view.calls.end() - 2, view.calls.end()),
              (std::vector<std::string>{"hideFileShareWindow", "showDownloadResult 1 1"}));
}

// An offer of 3,000 entries fetches the first thousand, four at a time, and completes with the
// rest failed.
TEST_F(FileOfferControllerTest, AHugeOfferFetchesItsFirstThousandFourAtATime)
{
    std::vector<std::pair<std::string, std::string>> files;
    for (int i = 0; i < 3000; ++i)
        files.emplace_back(std::to_string(i), "f" + std::to_string(i));
    accept(offer(files));
    EXPECT_EQ(sent, std::vector<std::string>{"accept 3000"});
    size_t fetched = 0;
    while (!http->pending.empty()) {
        ASSERT_LE(http->pending.size(), 4u);
        http->succeed(http->pending.front().url, "x");
        ++fetched;
    }
    loop->runUntilIdle();
    EXPECT_EQ(fetched, FileOfferController::kMaxOfferEntries);
    EXPECT_EQ(sent.back(), "complete");
    EXPECT_EQ(viewCalls("showDownloadResult"), std::vector<std::string>{"showDownloadResult 1000 2000"});
    EXPECT_EQ(contents("f999"), "x");
    EXPECT_FALSE(fs::exists(folder / "f1000"));
}

// Each accepted offer keeps its own counters: a later offer neither resets nor ends an earlier one.
TEST_F(FileOfferControllerTest, OverlappingOffersEachComplete)
{
    accept(offer({{"a", "first-a.txt"}, {"b", "first-b.txt"}}));
    http->succeed(kFetchBase + "/a", "A");
    loop->runUntilIdle();
    accept(offer({{"c", "second-c.txt"}}));
    http->succeed(kFetchBase + "/c", "C");
    loop->runUntilIdle();
    EXPECT_EQ(sent, (std::vector<std::string>{"accept 2", "done", "accept 1", "done", "complete"}));
    EXPECT_EQ(viewCalls("showDownloadResult"), std::vector<std::string>{"showDownloadResult 1 0"});

    http->succeed(kFetchBase + "/b", "B");
    loop->runUntilIdle();
    EXPECT_EQ(sent.back(), "complete");
    EXPECT_EQ(std::count(sent.begin(), sent.end(), "complete"), 2);
    EXPECT_EQ(viewCalls("showDownloadResult").back(), "showDownloadResult 2 0");
}

// Offers that are not what they should be count their unusable entries as failed and never stall.
TEST_F(FileOfferControllerTest, MalformedOffersCompleteWithTheirEntriesFailed)
{
    for (const char* text : {"not json", "[1,2]", R"({"url":"http://tv:1/s","files":{"id":"1"}})", R"({"url":"x","files":[]})"}) {
        sent.clear();
        accept(text);
        EXPECT_EQ(sent, (std::vector<std::string>{"accept 0", "complete"})) << text;
    }
    EXPECT_EQ(viewCalls("showDownloadResult").back(), "showDownloadResult 0 0");

    sent.clear();
    accept(R"({"url":")" + kBase + R"(","files":[{"id":"1"},"x",{"name":"n"},{"id":"ok","name":"ok.txt"}]})");
    EXPECT_EQ(sent, std::vector<std::string>{"accept 4"});
    http->succeed(kFetchBase + "/ok", "fine");
    loop->runUntilIdle();
    EXPECT_EQ(sent, (std::vector<std::string>{"accept 4", "done", "complete"}));
    EXPECT_EQ(viewCalls("showDownloadResult").back(), "showDownloadResult 1 3");
}

// Hostile names stay inside the folder, and a name already there is not overwritten.
TEST_F(FileOfferControllerTest, NamesFromTheTvStayInsideTheFolder)
{
    std::ofstream(folder / "mine.txt") << "keep";
    accept(offer({{"1", "../escape.txt"}, {"2", ".."}, {"3", "mine.txt"}, {"4", "/etc/x"}}));
    for (const auto* id : {"1", "2", "3", "4"})
        http->succeed(kFetchBase + "/" + id, std::string("tv ") + id);
    loop->runUntilIdle();
    EXPECT_EQ(sent.back(), "complete");
    EXPECT_EQ(contents(".._escape.txt"), "tv 1");
    EXPECT_EQ(contents("file-2"), "tv 2");
    EXPECT_EQ(contents("mine.txt"), "keep");
    EXPECT_EQ(contents("mine (1).txt"), "tv 3");
    EXPECT_EQ(contents("_etc_x"), "tv 4");
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "escape.txt"));
}

TEST_F(FileOfferControllerTest, TheResultWindowOpensTheFolder)
{
    offers->openDownloadDetails();
    EXPECT_EQ(view.calls, (std::vector<std::string>{"hideDownloadSuccessWindow", "openFolder " + folder.path().string()}));
    offers->closeDownloadSuccessWindow();
    EXPECT_EQ(view.calls.back(), "hideDownloadSuccessWindow");
}

// Downloads still running when the controller goes are cancelled; their late completions do nothing
// and leave no file.
TEST_F(FileOfferControllerTest, DestructionCancelsRunningDownloads)
{
    accept(offer({{"1", "late.txt"}, {"2", "later.txt"}}));
    offers.reset();
    EXPECT_EQ(http->cancelled.size(), 2u);
    http->succeed(kFetchBase + "/1", "late");
    loop->runUntilIdle();
    EXPECT_EQ(sent, std::vector<std::string>{"accept 2"});
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

} // namespace

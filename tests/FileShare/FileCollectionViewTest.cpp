#include "FileShare/FileCollectionView.h"
#include "FileShare/FileServerFixture.h"
#include "FileShare/RecordingFilePanel.h"
#include "FileShare/SharedFileCopy.h"
#include "Platform/SerialQueue.h"
#include "Utils/LocalizedText.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

namespace {

// The panel over a FileServer on loopback; its push tasks run on one serial queue, so a test can wait
// for all of them with one sync.
class FileCollectionViewTest : public FileServerFixture {
protected:
    FileCollectionViewTest()
    {
        FileCollectionView::Services services;
        services.server = server.get();
        services.sendFilePush = [this](std::vector<uint8_t> payload) {
            std::lock_guard lock(sentMutex);
            sent.push_back(nlohmann::json::parse(payload.begin(), payload.end()));
        };
        services.workQueue = work;
        panelRules = std::make_unique<FileCollectionView>(panel, std::move(services));
    }

    FileMessage choose(const std::string& name, const std::string& bytes)
    {
        panelRules->selectFileCallBack(source(name, Bytes(bytes.begin(), bytes.end())));
        return panelRules->fileArray().back();
    }
    void tickAll()
    {
        for (const auto& file : std::vector<FileMessage>(panelRules->fileArray()))
            panelRules->selectFile(file);
    }
    std::vector<nlohmann::json> pushAndWait()
    {
        panelRules->pushFile();
        work->sync([] {});
        std::lock_guard lock(sentMutex);
        return sent;
    }

    std::vector<std::string> calls;
    RecordingFilePanel panel{calls};
    const std::shared_ptr<SerialQueue> work = SerialQueue::create("pushTest");
    std::mutex sentMutex;
    std::vector<nlohmann::json> sent;
    std::unique_ptr<FileCollectionView> panelRules;
};

TEST_F(FileCollectionViewTest, TicksDriveTheButtonsAndEveryReloadClearsThem)
{
    const auto a = choose("a.txt", "A");
    const auto b = choose("b.txt", "B");
    EXPECT_EQ(panelRules->numberOfItems(), 3u);
    calls.clear();
    panelRules->selectFile(a);
    panelRules->selectFile(b);
    panelRules->unselectFile(a);
    EXPECT_EQ(calls, (std::vector<std::string>{"buttons 1", "buttons 1", "buttons 1"}));
    panelRules->unselectFile(b);
    EXPECT_EQ(calls.back(), "buttons 0");

    panelRules->selectFile(a);
    choose("c.txt", "C");
    EXPECT_TRUE(panelRules->selectArray().empty());
    EXPECT_EQ(calls.back(), "reloadData");
}

// Choosing a listed name asks first: Cancel keeps the list, OK moves the new file to the end, and of
// several questions asked together only the last one's OK counts.
TEST_F(FileCollectionViewTest, TheSameNameAsksToReplace)
{
    const auto first = choose("same.txt", "old");
    choose("other.txt", "x");
    panelRules->selectFileCallBack(source("same.txt", Bytes{'n', 'e', 'w'}));
    ASSERT_EQ(calls.back(), "askToReplace");
    ASSERT_EQ(panelRules->fileArray().size(), 2u);
    panel.pendingReplace = nullptr;  // Cancel
    EXPECT_EQ(panelRules->fileArray()[0].fileId, first.fileId);

    fs::create_directories(sources() / "again");
    panelRules->selectFileCallBack(source("same.txt", Bytes{'1'}));
    panelRules->selectFileCallBack(sources() / "again" / "other.txt");
    panel.pendingReplace();
    const auto& files = panelRules->fileArray();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].fileName, "same.txt");
    EXPECT_EQ(files[0].fileId, first.fileId);
    EXPECT_EQ(files[1].filePath, sources() / "again" / "other.txt");
}

// Two pushed files give two announcements, each a list of one object, and leave nothing ticked.
TEST_F(FileCollectionViewTest, PushingAnnouncesEachCopiedFile)
{
    const auto a = choose("a.txt", "alpha");
    const auto b = choose("b.bin", "beta");
    tickAll();
    calls.clear();
    const auto announced = pushAndWait();
    EXPECT_EQ(calls, (std::vector<std::string>{"buttons 0", "reloadData"}));
    ASSERT_EQ(announced.size(), 2u);
    for (const auto& list : announced) {
        ASSERT_TRUE(list.is_array());
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]["fileType"], "3005");
        EXPECT_EQ(list[0]["indexver"], "-1");
        EXPECT_EQ(list[0]["url"], *server->getShareFileBaseURL());
    }
    EXPECT_EQ(announced[0][0]["fileId"], a.fileId);
    EXPECT_EQ(announced[0][0]["fileName"], "a.txt");
    EXPECT_EQ(announced[1][0]["fileId"], b.fileId);
    EXPECT_TRUE(fs::exists(shared(a.fileId)));
    EXPECT_TRUE(fs::exists(shared(b.fileId)));
}

// A server whose port another program holds has no URL: the push says why, copies and announces
// nothing, and keeps the ticks for another try.
TEST_F(FileCollectionViewTest, APushWithoutAServerSaysWhyAndKeepsTheTicks)
{
    auto options = this->options();
    options.cachesFolder = root.path() / "second";
    options.server.port = port();
    FileServer portTaken(options);
    ASSERT_FALSE(portTaken.getShareFileBaseURL());
    std::vector<std::string> otherCalls;
    RecordingFilePanel otherPanel{otherCalls};
    FileCollectionView rules(otherPanel, {&portTaken, [](std::vector<uint8_t>) { ADD_FAILURE() << "announced"; }, work});
    rules.selectFileCallBack(source("a.txt", Bytes{'a'}));
    rules.selectFile(rules.fileArray().back());
    otherCalls.clear();
    rules.pushFile();
    work->sync([] {});
    EXPECT_EQ(otherCalls, (std::vector<std::string>{"pushFailure " + LocalizedText::text("STRING_PUSH_NO_SERVER")}));
    EXPECT_EQ(rules.selectArray().size(), 1u);
}

// A file that cannot be copied is not announced: the TV would find nothing to fetch. The push's
// progress says which failed, and counts the other's bytes, over several slices, as copied.
TEST_F(FileCollectionViewTest, AFailedCopyIsNotAnnouncedAndItsProgressSaysSo)
{
    const auto gone = choose("gone.txt", "soon gone");
    const std::string large(2 * SharedFileCopy::kSliceLength + 3, 'k');
    const auto kept = choose("kept.txt", large);
    fs::remove(gone.filePath);
    tickAll();
    const auto announced = pushAndWait();
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0][0]["fileId"], kept.fileId);
    EXPECT_FALSE(fs::exists(shared(gone.fileId)));

    loop->advance(std::chrono::seconds(1));
    const TransferProgress& push = panel.push;
    ASSERT_EQ(push.files.size(), 2u);
    EXPECT_EQ(push.find(gone.fileId)->state, TransferProgress::State::Failed);
    EXPECT_EQ(push.find(kept.fileId)->state, TransferProgress::State::Done);
    EXPECT_EQ(push.find(kept.fileId)->size, large.size());
    EXPECT_EQ(push.unfinished(), 0u);
    EXPECT_EQ(push.failed(), 1u);
    EXPECT_EQ(push.totalPermille(), 1000);

    // The next push counts afresh.
    panelRules->selectFile(kept);
    pushAndWait();
    loop->advance(std::chrono::seconds(1));
    ASSERT_EQ(panel.push.files.size(), 1u);
    EXPECT_EQ(panel.push.failed(), 0u);
}

TEST_F(FileCollectionViewTest, DeletingRemovesTheTickedFilesAndTheirCopies)
{
    const auto a = choose("a.txt", "A");
    const auto b = choose("b.txt", "B");
    tickAll();
    pushAndWait();
    ASSERT_TRUE(fs::exists(shared(a.fileId)));
    panelRules->selectFile(panelRules->fileArray()[0]);
    panelRules->deleteFile();
    ASSERT_EQ(panelRules->fileArray().size(), 1u);
    EXPECT_EQ(panelRules->fileArray()[0].fileId, b.fileId);
    EXPECT_FALSE(fs::exists(shared(a.fileId)));
    EXPECT_TRUE(fs::exists(shared(b.fileId)));

    panelRules->cleanUploadFile();
    EXPECT_EQ(panelRules->numberOfItems(), 1u);
}

} // namespace

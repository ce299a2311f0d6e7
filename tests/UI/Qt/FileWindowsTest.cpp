#include "MainWindowFixture.h"

#include "FileShare/FileCollectionView.h"
#include "FileShare/FileServer.h"
#include "FileShare/TransferProgress.h"
#include "Socket/FileShareOffer.h"
#include "Socket/Int32Payload.h"
#include "Socket/MessageType.h"
#include "Session/FileOfferController.h"
#include "Session/FileWindowController.h"
#include "Utils/LocalizedText.h"
#include "UI/Qt/FileThumbnails.h"
#include "UI/Qt/FileViewItem.h"
#include "UI/Qt/GlobalPopWindow.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvFileServer.h"

#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <arpa/inet.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <set>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

QString text(std::string_view key)
{
    return QString::fromStdString(LocalizedText::text(key));
}

// The file window and the offer windows of the main window, in front of the session controller
// linked to a TV peer on 127.0.0.1, with a shared-folder server of their own on a loopback port.
class FileWindowsTest : public MainWindowFixture {
protected:
    FileWindowsTest()
    {
        EXPECT_TRUE(tv.start());
        FileServer::Options options;
        options.cachesFolder = root.path() / "cache";
        options.server.port = 0;
        options.server.bindToLocalhost = true;
        options.server.bonjourName.reset();
        server = std::make_unique<FileServer>(options);
        fs::create_directories(sources());
        SessionServices services = SessionFixture::loopbackServices(link, tv);
        services.fileServer = server.get();
        services.subnetInterfaces = [] {
            LocalSubnet::Interface loopback;
            inet_pton(AF_INET, "127.0.0.1", &loopback.address);
            inet_pton(AF_INET, "255.0.0.0", &loopback.netmask);
            return std::vector<LocalSubnet::Interface>{loopback};
        };
        services.downloadFolder = [this] { return std::optional<fs::path>(root.path() / "downloads"); };
        controller = std::make_unique<MainWindowController>(window, std::move(services));
        window.setController(controller.get());
        controller->windowDidLoad();
        controller->state().tvDeviceIp = "127.0.0.1";
        EXPECT_TRUE(link.connectToHost("127.0.0.1", tv.port()));
        // Messages sent before the session counts the link as up are dropped.
        EXPECT_TRUE(processUntil([this] { return controller->state().ConnectWithTv; }));
        files().setFileChooser([this](QWidget&) { return std::exchange(chosen, {}); });
    }
    ~FileWindowsTest() override
    {
        window.setController(nullptr);
        controller.reset();
        link.tcpClientRelease();
    }

    fs::path sources() const { return root.path() / "sources"; }
    FileWindow& files() const { return window.fileInfoWindow(); }
    const std::vector<FileViewItem*>& tiles() const { return files().tiles(); }
    QPushButton* button(const QWidget& in, const char* name) const { return findControl<QPushButton>(in, name); }
    QPushButton* fileButton(size_t tile, const char* name = "fileImageBtn") const { return button(*tiles().at(tile), name); }
    QLabel* label(const QWidget& in, const char* name) const { return findControl<QLabel>(in, name); }

    fs::path write(const std::string& name, const std::string& contents = "some text")
    {
        const fs::path path = sources() / name;
        std::ofstream(path) << contents;
        return path;
    }
    fs::path picture(const std::string& name)
    {
        QImage image(320, 160, QImage::Format_RGB32);
        image.fill(QColor(17, 141, 227));
        const fs::path path = sources() / name;
        EXPECT_TRUE(image.save(QString::fromStdString(path.string()), "PNG"));
        return path;
    }

    // Presses the add tile and takes `paths` as the user's choice.
    void choose(std::vector<fs::path> paths)
    {
        chosen = std::move(paths);
        button(*tiles().front(), "uploadText")->click();
        ASSERT_TRUE(processUntil([&] { return chosen.empty(); }));
        processFor(20ms);
    }

    // The connected page's file button.
    void open()
    {
        button(window, "fileBtn")->click();
        ASSERT_TRUE(files().isVisible());
    }

    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (size_t index = 1; index < tiles().size(); ++index)
            found.push_back(tiles()[index]->file().fileName);
        return found;
    }
    bool buttonsEnabled() const
    {
        const bool push = button(files(), "pushBtn")->isEnabled();
        EXPECT_EQ(button(files(), "deleteBtn")->isEnabled(), push);
        return push;
    }
    bool tvGot(uint16_t type, size_t count = 1) const
    {
        return processUntil([&] { return tv.received(type).size() >= count; });
    }

    TempDir root;
    TvSim tv{SessionFixture::tvOptions()};
    TCPManager link{SessionFixture::linkOptions()};
    std::unique_ptr<FileServer> server;
    std::unique_ptr<MainWindowController> controller;
    std::vector<fs::path> chosen;
};

TEST_F(FileWindowsTest, TilesShowTheChosenFilesAndTicksEnableTheButtons)
{
    open();
    ASSERT_EQ(tiles().size(), 1u);
    EXPECT_TRUE(button(*tiles()[0], "uploadBtn")->isVisibleTo(&files()));
    EXPECT_FALSE(buttonsEnabled());

    choose({picture("Photo.PNG"), write("a rather long name.txt"), write("README")});
    ASSERT_EQ(tiles().size(), 4u);
    EXPECT_EQ(names(), (std::vector<std::string>{"Photo.PNG", "a rather long name.txt", "README"}));
    EXPECT_EQ(label(*tiles()[2], "fileName")->text(), "a rather l...");
    EXPECT_FALSE(button(*tiles()[1], "uploadBtn")->isVisibleTo(&files()));
    // The picture's own image, scaled into the tile; the others their category's picture.
    const QPixmap photo = FileThumbnails::scaledImage(sources() / "Photo.PNG");
    EXPECT_EQ(photo.size(), QSize(68, 34));
    EXPECT_TRUE(FileThumbnails::scaledImage(sources() / "README").isNull());
    const fs::path clip = sources() / "clip.mp4";
    const auto made = Shell::run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i", "color=c=blue:s=160x90:d=1", "-c:v",
                                  "libx264", "-pix_fmt", "yuv420p", clip.string()});
    ASSERT_TRUE(made && made->exitCode == 0);
    const QImage still = FileThumbnails::videoStill(clip).toImage();
    EXPECT_EQ(still.size(), QSize(68, 38));
    EXPECT_GT(qBlue(still.pixel(34, 19)), 200);
    EXPECT_TRUE(FileThumbnails::videoStill(sources() / "README").isNull());
    EXPECT_EQ(fileButton(1)->icon().availableSizes().value(0), QSize(68, 34));

    fileButton(1)->click();
    // The round tick is part of the picture it sits on: a click on it ticks the file.
    const QPoint tick = label(*tiles()[3], "selectImage")->geometry().center();
    QWidget* underTick = tiles()[3]->childAt(tick);
    ASSERT_EQ(underTick, fileButton(3));
    QTest::mouseClick(underTick, Qt::LeftButton, {}, underTick->mapFrom(tiles()[3], tick));
    EXPECT_TRUE(tiles()[3]->isTicked());
    EXPECT_TRUE(buttonsEnabled());
    EXPECT_EQ(controller->fileWindow().panel().selectArray().size(), 2u);
    saveScreenshot(files(), "file-window");
    fileButton(1)->click();
    EXPECT_TRUE(buttonsEnabled());
    fileButton(3)->click();
    EXPECT_FALSE(buttonsEnabled());

    fileButton(2)->click();
    button(files(), "deleteBtn")->click();
    EXPECT_EQ(names(), (std::vector<std::string>{"Photo.PNG", "README"}));
    EXPECT_FALSE(buttonsEnabled());

    // Opened again from closed (Escape closes it), the grid holds only the add tile.
    pressKey(files(), Qt::Key_Escape);
    EXPECT_FALSE(files().isVisible());
    open();
    EXPECT_EQ(tiles().size(), 1u);
}

// Once the window has no controller, its tiles tell no panel: the controller may go first.
TEST_F(FileWindowsTest, TilesOutliveNoPanel)
{
    open();
    choose({write("a.txt")});
    window.setController(nullptr);
    controller.reset();
    ASSERT_EQ(tiles().size(), 1u);
    button(*tiles()[0], "uploadText")->click();
    processFor(20ms);
    EXPECT_EQ(tiles().size(), 1u);
}

// A chosen name already listed asks once; OK moves the new file to the end, Cancel keeps the list.
TEST_F(FileWindowsTest, ASameNameAsksToReplace)
{
    open();
    fs::create_directories(sources() / "again");
    choose({write("a.txt"), write("b.txt")});
    choose({write("again/a.txt", "other")});
    const auto questions = files().findChildren<GlobalPopWindow*>();
    ASSERT_EQ(questions.size(), 1);
    ASSERT_TRUE(questions.front()->isVisible());
    button(*questions.front(), "highlightButton")->click();
    EXPECT_EQ(names(), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(tiles()[1]->file().filePath, sources() / "a.txt");

    choose({write("again/a.txt", "other")});
    ASSERT_TRUE(questions.front()->isVisible());
    button(*questions.front(), "normalButton")->click();
    EXPECT_EQ(names(), (std::vector<std::string>{"b.txt", "a.txt"}));
    EXPECT_EQ(tiles()[2]->file().filePath, sources() / "again" / "a.txt");

    // A push that cannot start says why in front of the file window.
    files().showPushFailure(text("STRING_PUSH_NO_SERVER").toStdString());
    auto* failure = files().findChild<QMessageBox*>("pushFailure");
    ASSERT_NE(failure, nullptr);
    EXPECT_TRUE(failure->isVisible());
    EXPECT_EQ(failure->text(), text("STRING_PUSH_NO_SERVER"));
    saveScreenshot(*failure, "push-failure");
    failure->button(QMessageBox::Ok)->click();
}

// The push button announces each ticked file to the TV and leaves nothing ticked.
TEST_F(FileWindowsTest, PushAnnouncesTheTickedFilesToTheTv)
{
    open();
    choose({write("a.txt"), write("b.txt"), write("c.txt")});
    fileButton(1)->click();
    fileButton(3)->click();
    button(files(), "pushBtn")->click();
    EXPECT_FALSE(buttonsEnabled());
    for (size_t index = 1; index < tiles().size(); ++index)
        EXPECT_FALSE(tiles()[index]->isTicked());

    ASSERT_TRUE(tvGot(kMsgFilePush, 2));
    processFor(100ms);
    const auto pushes = tv.received(kMsgFilePush);
    ASSERT_EQ(pushes.size(), 2u);
    std::set<std::string> announced;
    for (const auto& push : pushes) {
        const auto list = nlohmann::json::parse(std::string(push.payload.begin(), push.payload.end()));
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(list[0]["fileType"], "3005");
        EXPECT_EQ(list[0]["indexver"], "-1");
        EXPECT_EQ(list[0]["url"], *server->getShareFileBaseURL());
        announced.insert(list[0]["fileName"].get<std::string>() + " " + list[0]["fileId"].get<std::string>());
    }
    const auto& listed = controller->fileWindow().panel().fileArray();
    EXPECT_EQ(announced, (std::set<std::string>{"a.txt " + listed[0].fileId, "c.txt " + listed[2].fileId}));

    // Each pushed file's tile shows its copy done, the line under the grid the sum; a reload keeps them.
    ASSERT_TRUE(processUntil([&] { return controller->fileWindow().panel().pushProgress().unfinished() == 0; }));
    const auto pushBar = [&](size_t tile) { return findControl<QProgressBar>(*tiles().at(tile), "copyProgress"); };
    EXPECT_EQ(label(files(), "pushProgressText")->text(), QString::fromStdString(LocalizedText::format("STRING_PUSH_READY", {"2"})));
    choose({write("d.txt")});
    EXPECT_TRUE(pushBar(1)->isVisibleTo(&files()));
    EXPECT_EQ(pushBar(1)->value(), 1000);
    EXPECT_FALSE(pushBar(2)->isVisibleTo(&files()));
    EXPECT_TRUE(pushBar(3)->isVisibleTo(&files()));
    EXPECT_FALSE(pushBar(4)->isVisibleTo(&files()));
    EXPECT_TRUE(findControl<QProgressBar>(files(), "pushProgress")->isVisibleTo(&files()));

    // A push under way: one file halfway, one waiting, one that failed.
    TransferProgress moving;
    moving.files = {{listed[0].fileId, "a.txt", 40 << 20, uint64_t{80} << 20, TransferProgress::State::Moving},
                    {listed[1].fileId, "b.txt", 0, uint64_t{300} << 20, TransferProgress::State::Waiting},
                    {listed[2].fileId, "c.txt", 0, 9, TransferProgress::State::Failed}};
    files().showPushProgress(moving);
    EXPECT_EQ(pushBar(1)->value(), 500);
    EXPECT_EQ(label(files(), "pushProgressText")->text(),
              QString::fromStdString(LocalizedText::format("STRING_PUSH_PROGRESS", {"1", "3", "40.00 MiB", "380.00 MiB"})));
    saveScreenshot(files(), "file-window-pushing");

    // The TV's word that it received them shows in front of the Files window that pushed.
    controller->fileWindow().pushFileSuccess();
    ASSERT_TRUE(processUntil([&] { return files().findChild<ToastView*>("pushReceived") != nullptr; }));
    const auto* received = files().findChild<ToastView*>("pushReceived");
    EXPECT_TRUE(received->isVisible());
    EXPECT_EQ(received->message(), text("STRING_CLOSE_TOAST"));
    EXPECT_EQ(window.toastView(), nullptr);
}

// The offer window names its TV (the TV, before its name comes), lists each file's name and size,
// counts down from 10 and Escape, as Reject, answers the TV once.
TEST_F(FileWindowsTest, OfferWindowCountsDownAndRejects)
{
    FileShareWindow& offer = window.fileShareWindow();
    // As when the offer comes with the link, before the TV's name.
    window.findChild<QLabel*>("deviceName")->clear();
    const nlohmann::json files = nlohmann::json::array(
        {{{"id", "1"}, {"name", "holiday.mp4"}, {"size", 314572800}}, {{"id", "2"}, {"name", "b.txt"}}});
    controller->fileOffers().tvShareFile2pc(nlohmann::json{{"url", "http://127.0.0.1:9/files"}, {"files", files}}.dump());
    ASSERT_TRUE(processUntil([&] { return offer.isVisible(); }));
    EXPECT_EQ(label(offer, "timeTitle")->text(), text("STRING_FILE_SHARE_TITLE") + " (10 s to answer)");
    EXPECT_EQ(label(offer, "fileShareText")->text(), "The TV offers you 2 file(s).") ;
    const auto* listed = offer.findChild<QListWidget*>("offeredFiles");
    ASSERT_NE(listed, nullptr);
    ASSERT_EQ(listed->count(), 2);
    EXPECT_EQ(listed->item(0)->text(), "holiday.mp4 (300.00 MiB)");
    EXPECT_EQ(listed->item(1)->text(), "b.txt (" + text("STRING_OFFERED_FILE_NO_SIZE") + ")");
    EXPECT_EQ(label(offer, "downloadLocationTip")->text(), text("STRING_FILE_SHARE_TIP"));
    saveScreenshot(offer, "file-offer-window");
    ASSERT_TRUE(processUntil([&] { return label(offer, "timeTitle")->text().endsWith("(9 s to answer)"); }, 3s));

    pressKey(offer, Qt::Key_Escape);
    EXPECT_FALSE(offer.isVisible());
    ASSERT_TRUE(tvGot(kMsgFileShareReject));
    EXPECT_FALSE(controller->fileOffers().isWaitingForAnswer());
    processFor(1200ms);
    EXPECT_EQ(tv.received(kMsgFileShareReject).size(), 1u);
}

// Accepting an offer of no files answers with the count 0 and shows the all-failed result at once.
TEST_F(FileWindowsTest, AcceptAnswersTheCountAndShowsTheResult)
{
    FileShareWindow& offer = window.fileShareWindow();
    DownloadResultWindow& result = window.downloadSuccessWindow();
    controller->fileOffers().tvShareFile2pc(TvFileServer::offerJSON("http://127.0.0.1:9/files", {}));
    ASSERT_TRUE(processUntil([&] { return offer.isVisible(); }));
    button(offer, "agreeBtn")->click();
    EXPECT_FALSE(offer.isVisible());
    ASSERT_TRUE(tvGot(kMsgFileShareAccept));
    EXPECT_EQ(Int32Payload::decode(tv.received(kMsgFileShareAccept).front().payload).value, 0);
    ASSERT_TRUE(processUntil([&] { return result.isVisible(); }));
    EXPECT_EQ(label(result, "downloadResultText")->text(),
              QString::fromStdString(LocalizedText::format("STRING_DOWNLOAD_FAIL_RESULT", {"0"})));
    EXPECT_FALSE(button(result, "detailsBtn")->isEnabled());
    button(result, "knowBtn")->click();
    EXPECT_FALSE(result.isVisible());
}

// Accepted, the offer window shows each file's download with its bar until the result takes its place.
TEST_F(FileWindowsTest, AnAcceptedOfferShowsItsDownloadsUntilTheResult)
{
    FileShareWindow& offer = window.fileShareWindow();
    DownloadResultWindow& result = window.downloadSuccessWindow();
    fs::create_directories(root.path() / "downloads");
    TvFileServer tvFiles;
    ASSERT_TRUE(tvFiles.start());
    tvFiles.addFile("1", std::vector<uint8_t>(300'000, 7));
    tvFiles.addFile("2", std::vector<uint8_t>(300'000, 8), TvFileServer::Behaviour::CutMidway);
    controller->fileOffers().tvShareFile2pc(TvFileServer::offerJSON(tvFiles.baseURL(), {{"1", "a.bin"}, {"2", "b.bin"}}));
    ASSERT_TRUE(processUntil([&] { return offer.isVisible(); }));
    button(offer, "agreeBtn")->click();
    EXPECT_TRUE(offer.isVisible());
    EXPECT_TRUE(offer.showsProgress());
    EXPECT_FALSE(button(offer, "agreeBtn")->isVisibleTo(&offer));
    EXPECT_EQ(label(offer, "timeTitle")->text(), text("STRING_FILE_SHARE_RECEIVING"));
    EXPECT_EQ(offer.findChildren<QProgressBar*>("fileProgress").size(), 2);
    ASSERT_TRUE(processUntil([&] { return result.isVisible(); }));
    EXPECT_FALSE(offer.isVisible());
    EXPECT_EQ(label(result, "downloadResultText")->text(),
              QString::fromStdString(LocalizedText::format("STRING_DOWNLOAD_RESULT", {"1", "1"})));
    button(result, "knowBtn")->click();

    // Downloads under way: one done, one halfway, one of unknown size, one failed. Escape only hides them.
    TransferProgress downloads;
    downloads.files = {{"0", "holiday.mp4", uint64_t{300} << 20, uint64_t{300} << 20, TransferProgress::State::Done},
                       {"1", "concert.mkv", uint64_t{600} << 20, uint64_t{1200} << 20, TransferProgress::State::Moving},
                       {"2", "notes.txt", 0, std::nullopt, TransferProgress::State::Waiting},
                       {"3", "broken.jpg", 0, 12, TransferProgress::State::Failed}};
    window.showDownloadProgress(downloads);
    ASSERT_TRUE(offer.isVisible());
    // The rows of the offer before go once their deferred deletion runs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const auto bars = offer.findChildren<QProgressBar*>("fileProgress");
    ASSERT_EQ(bars.size(), 4);
    EXPECT_EQ(label(offer, "fileShareText")->text(),
              QString::fromStdString(LocalizedText::format("STRING_DOWNLOAD_PROGRESS", {"1", "4", "900.00 MiB", "1.46 GiB"})));
    EXPECT_EQ(findControl<QProgressBar>(offer, "totalProgress")->value(), 500) << "by files: a size is not known";
    saveScreenshot(offer, "file-offer-progress");
    const size_t rejects = tv.received(kMsgFileShareReject).size();
    pressKey(offer, Qt::Key_Escape);
    EXPECT_FALSE(offer.isVisible());
    window.showDownloadProgress(downloads);
    EXPECT_FALSE(offer.isVisible()) << "hidden by the user, the downloads stay hidden";
    processFor(100ms);
    EXPECT_EQ(tv.received(kMsgFileShareReject).size(), rejects);
}

TEST_F(FileWindowsTest, ResultWindowShowsStoredAndFailedFiles)
{
    DownloadResultWindow& result = window.downloadSuccessWindow();
    window.showDownloadResult(3, 1);
    ASSERT_TRUE(result.isVisible());
    EXPECT_EQ(label(result, "downloadResultText")->text(),
              QString::fromStdString(LocalizedText::format("STRING_DOWNLOAD_RESULT", {"3", "1"})));
    EXPECT_TRUE(button(result, "detailsBtn")->isEnabled());
    saveScreenshot(result, "file-result-window");
    // An offer nobody answered says so in a toast.
    window.showOfferTimedOut();
    ASSERT_NE(window.toastView(), nullptr);
    EXPECT_EQ(window.toastView()->message(), text("STRING_FILE_OFFER_TIMED_OUT"));
    // A new offer hides the result of the last one.
    window.showFileShareWindow(FileShareOffer{"u", {{"1", "a.txt", 5}}}, 10);
    EXPECT_FALSE(result.isVisible());
}

} // namespace

// Casts of a window and of the display of a private Xvfb, checked by ffprobe, ffmpeg and openssl.
#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderH264/SelectedWindowFrame.h"
#include "Media/EncoderH264/windowInfo.h"
#include "Platform/X11ScreenCapture.h"
#include "Socket/TCPManager.h"
#include "Utils/EncryptedFrame.h"

#include "Media/RecordManagerTestSupport.h"
#include "Platform/X11Fixture.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kCastWidth = 1280;
constexpr int kCastHeight = 720;
constexpr int kFps = 10;
// Enough for two key frames, fps x 2 frames apart.
constexpr size_t kStreamFrames = 25;

// ffprobe and ffmpeg read the units, as the TV receives them, as one conforming stream.
void expectConformingStream(const std::vector<std::vector<uint8_t>>& units)
{
    TempDir dir;
    const std::string path = (dir / "cast.h264").string();
    writeFile(path, concatenated(units));
    const nlohmann::json report = probeH264(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    const auto& stream = report["streams"][0];
    EXPECT_EQ(stream.value("profile", ""), "Constrained Baseline");
    EXPECT_EQ(stream.value("width", 0), kCastWidth);
    EXPECT_EQ(stream.value("height", 0), kCastHeight);
    EXPECT_EQ(stream.value("has_b_frames", -1), 0);
    const auto& frames = report["frames"];
    ASSERT_EQ(frames.size(), units.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_NE(frames[i].value("pict_type", ""), "B") << "frame " << i;
        EXPECT_EQ(frames[i].value("key_frame", 0) == 1, i % (kFps * 2) == 0) << "frame " << i;
    }
    EXPECT_TRUE(decodesCleanly(path));
}

// The luma of the stream's first picture, one byte per pixel (0 black, 255 white).
std::string firstPictureLuma(const std::vector<std::vector<uint8_t>>& units)
{
    TempDir dir;
    const std::string path = (dir / "cast.h264").string();
    writeFile(path, concatenated(units));
    const auto outcome = Shell::run({"ffmpeg", "-v", "error", "-f", "h264", "-i", path, "-frames:v", "1", "-f",
                                     "rawvideo", "-pix_fmt", "gray", "-"});
    return outcome && outcome->exitCode == 0 ? outcome->output : std::string();
}

// Clears the process's session key when the test ends, however it ends.
struct SessionKeyScope {
    explicit SessionKeyScope(SessionKey key) { TCPManager::sharedManager().setAesKey(std::move(key)); }
    ~SessionKeyScope() { TCPManager::sharedManager().setAesKey(nullptr); }
    SessionKeyScope(const SessionKeyScope&) = delete;
    SessionKeyScope& operator=(const SessionKeyScope&) = delete;
};

} // namespace

class RecordManagerCaptureTest : public X11Fixture {
protected:
    // A named window with coloured bands, where the window picker would have seen it.
    std::shared_ptr<windowInfo> showPatternWindow()
    {
        const Window window = showWindow(100, 100, 640, 400, 0x3366cc);
        for (int band = 0; band < 8; ++band)
            fill(window, band * 80, 0, 40, 400, 0xffffff - static_cast<uint32_t>(band) * 0x1f2f3f);
        XStoreName(client, window, "RecordManager pattern window");
        XSync(client, False);
        const WindowRect frame{100, 100, 640, 400};
        gSelectedWindowFrame.store(frame);
        return std::make_shared<windowInfo>(static_cast<int32_t>(window), "RecordManager pattern window", frame, 0.0);
    }

    std::unique_ptr<RecordManager> makeManager()
    {
        auto manager = std::make_unique<RecordManager>(server->name());
        manager->setDelegate(&stopDelegate);
        manager->SetCallback(&sink, &CallbackSink::callback);
        return manager;
    }

    void TearDown() override
    {
        gSelectedWindowFrame.store({});
        X11Fixture::TearDown();
    }

    CallbackSink sink;
    CountingStopDelegate stopDelegate;
};

TEST_F(RecordManagerCaptureTest, AWindowCastIsAConformingStream)
{
    const auto window = showPatternWindow();
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWindow, window, 0);
    ASSERT_TRUE(manager->IsStarted());
    ASSERT_TRUE(sink.waitFor(kStreamFrames));
    manager->StopRecord();
    manager->deallocRecord();
    EXPECT_EQ(stopDelegate.calls(), 0);
    expectConformingStream(sink.units());

    // The 640 x 400 window fills the height, 1152 wide from x 64, between black bars; its first band
    // (window x 0 to 39) is white.
    const std::string luma = firstPictureLuma(sink.units());
    ASSERT_EQ(luma.size(), static_cast<size_t>(kCastWidth) * kCastHeight);
    const auto at = [&](int x, int y) { return static_cast<uint8_t>(luma[static_cast<size_t>(y) * kCastWidth + x]); };
    EXPECT_LT(at(30, 360), 30);
    EXPECT_LT(at(1250, 360), 30);
    EXPECT_GT(at(100, 360), 200);
    EXPECT_GT(at(100, 10), 200);
}

TEST_F(RecordManagerCaptureTest, AWholeDisplayCastIsAConformingStream)
{
    showPatternWindow();
    X11ScreenCapture screen(*display);
    const auto displays = screen.displays();
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr,
                         displays.empty() ? 0 : displays.front().id);
    ASSERT_TRUE(sink.waitFor(kStreamFrames));
    manager->StopRecord();
    expectConformingStream(sink.units());
}

TEST_F(RecordManagerCaptureTest, WithASessionKeyEachFrameDecryptsWithOpensslToTheStream)
{
    std::vector<uint8_t> key(32);
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(i * 7 + 3);
    const SessionKeyScope scope(std::make_shared<const std::vector<uint8_t>>(key));
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    constexpr size_t kFrames = 5;
    ASSERT_TRUE(sink.waitFor(kFrames));
    manager->StopRecord();

    TempDir dir;
    const std::string cipherPath = (dir / "frame.bin").string();
    std::vector<std::vector<uint8_t>> plain;
    const auto units = sink.units();
    for (size_t i = 0; i < kFrames; ++i) {
        const auto& unit = units[i];
        ASSERT_GT(unit.size(), EncryptedFrame::kIvLength);
        writeFile(cipherPath, {unit.begin() + EncryptedFrame::kIvLength, unit.end()});
        const auto outcome = Shell::run({"openssl", "enc", "-d", "-aes-256-ctr", "-K", hex(key.data(), key.size()),
                                         "-iv", hex(unit.data(), EncryptedFrame::kIvLength), "-in", cipherPath});
        ASSERT_TRUE(outcome && outcome->exitCode == 0);
        plain.emplace_back(outcome->output.begin(), outcome->output.end());
        EXPECT_EQ(EncryptedFrame::open(unit, key), plain.back());
    }
    TempDir probeDir;
    const std::string path = (probeDir / "plain.h264").string();
    writeFile(path, concatenated(plain));
    const nlohmann::json report = probeH264(path);
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0].value("profile", ""), "Constrained Baseline");
    EXPECT_EQ(report["streams"][0].value("width", 0), kCastWidth);
    EXPECT_EQ(report["streams"][0].value("height", 0), kCastHeight);
    EXPECT_EQ(report["frames"].size(), kFrames);
    EXPECT_TRUE(decodesCleanly(path));
}

// A window closed, or hidden, during its cast.
class RecordManagerLostWindowTest : public RecordManagerCaptureTest, public testing::WithParamInterface<bool> {};

INSTANTIATE_TEST_SUITE_P(Ways, RecordManagerLostWindowTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& param) { return param.param ? "Destroyed" : "Hidden"; });

TEST_P(RecordManagerLostWindowTest, IsReportedOnce)
{
    const auto window = showPatternWindow();
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWindow, window, 0);
    ASSERT_TRUE(sink.waitFor(3));
    if (GetParam())
        XDestroyWindow(client, static_cast<Window>(window->windowId()));
    else
        XUnmapWindow(client, static_cast<Window>(window->windowId()));
    XSync(client, False);
    ASSERT_TRUE(stopDelegate.waitForCall());
    // Several more ticks find the window gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    manager->StopRecord();
    EXPECT_EQ(stopDelegate.calls(), 1);
}

TEST_F(RecordManagerCaptureTest, AnUnknownDisplayFallsBackToThePrimaryAndNothingArrivesAfterTheStop)
{
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeExtendedScreen, nullptr, 0x7ffffff0);
    ASSERT_TRUE(sink.waitFor(5));
    manager->StopRecord();
    const size_t atStop = sink.count();
    // Ticks that would have come meanwhile deliver nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(sink.count(), atStop);
    manager->deallocRecord();
    EXPECT_EQ(sink.count(), atStop);

    TempDir dir;
    const std::string path = (dir / "extended.h264").string();
    writeFile(path, concatenated(sink.units()));
    EXPECT_TRUE(decodesCleanly(path));
}

TEST_F(RecordManagerCaptureTest, ALostXServerEndsTheCaptureAndTheStopStillReturns)
{
    // A server of its own, so the suite's one lives on.
    X11TestServer lost;
    ASSERT_TRUE(lost.start());
    auto manager = std::make_unique<RecordManager>(lost.name());
    manager->SetCallback(&sink, &CallbackSink::callback);
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(sink.waitFor(3));
    lost.stop();
    // Ticks meet the broken connection: the capture ends (releasing the link) instead of the process.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const size_t afterLoss = sink.count();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sink.count(), afterLoss);
    manager->StopRecord();
    manager->deallocRecord();
    EXPECT_FALSE(manager->IsStarted());
}

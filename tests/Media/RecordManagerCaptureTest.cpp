// Casts of a window and of the display of a private Xvfb, checked by ffprobe, ffmpeg and openssl.
#include "Platform/X11ScreenCapture.h"
#include "Utils/EncryptedFrame.h"

#include "Media/RecordManagerCaptureFixture.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// Enough for two key frames, fps x 2 frames apart.
constexpr size_t kStreamFrames = 25;

// ffprobe and ffmpeg read the units, as the TV receives them, as one conforming stream.
void expectConformingStream(const std::vector<Bytes>& units)
{
    TempDir dir;
    const std::string path = writeStream(dir, concatenated(units));
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
std::string firstPictureLuma(const std::vector<Bytes>& units)
{
    TempDir dir;
    const auto outcome = Shell::run({"ffmpeg", "-v", "error", "-f", "h264", "-i", writeStream(dir, concatenated(units)),
                                     "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    return outcome && outcome->exitCode == 0 ? outcome->output : std::string();
}

} // namespace

class RecordManagerCaptureTest : public RecordManagerCaptureFixture {};

TEST_F(RecordManagerCaptureTest, AWindowCastIsAConformingStream)
{
    const auto window = showPatternWindow();
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWindow, window, 0);
    ASSERT_TRUE(manager->IsStarted());
    ASSERT_TRUE(observer.waitForUnits(kStreamFrames));
    manager->StopRecord();
    manager->deallocRecord();
    EXPECT_EQ(observer.stops(), 0);
    expectConformingStream(observer.units());

    // The 640 x 400 window fills the height, 1152 wide from x 64, between black bars; its first band
    // (window x 0 to 39) is white.
    const std::string luma = firstPictureLuma(observer.units());
    ASSERT_EQ(luma.size(), static_cast<size_t>(kCastWidth) * kCastHeight);
    const auto at = [&](int x, int y) { return static_cast<uint8_t>(luma[static_cast<size_t>(y) * kCastWidth + x]); };
    EXPECT_LT(at(30, 360), 30);
    EXPECT_LT(at(1250, 360), 30);
    EXPECT_GT(at(100, 360), 200);
    EXPECT_GT(at(100, 10), 200);
}

// A whole-display cast, encrypted: each frame decrypts with openssl, and the frames make a conforming stream.
TEST_F(RecordManagerCaptureTest, AnEncryptedWholeDisplayCastDecryptsWithOpensslToAConformingStream)
{
    const Bytes key = patternBytes(32, 7);
    showPatternWindow();
    X11ScreenCapture screen(*display);
    const auto displays = screen.displays();
    auto manager = makeManager(std::make_shared<const std::vector<uint8_t>>(key));
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr,
                         displays.empty() ? 0 : displays.front().id);
    ASSERT_TRUE(observer.waitForUnits(kStreamFrames));
    manager->StopRecord();

    TempDir dir;
    const std::string cipherPath = (dir / "frame.bin").string();
    const std::string plainPath = (dir / "plain.bin").string();
    std::vector<Bytes> plain;
    for (const auto& unit : observer.units()) {
        ASSERT_GT(unit.size(), EncryptedFrame::kIvLength);
        writeBytes(cipherPath, {unit.begin() + EncryptedFrame::kIvLength, unit.end()});
        ASSERT_TRUE(openssl({"enc", "-d", "-aes-256-ctr", "-K", toHex(key), "-iv",
                             toHex({unit.begin(), unit.begin() + EncryptedFrame::kIvLength}), "-in", cipherPath, "-out",
                             plainPath}));
        plain.push_back(readBytes(plainPath));
        EXPECT_EQ(EncryptedFrame::open(unit, key), plain.back());
    }
    expectConformingStream(plain);
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
    ASSERT_TRUE(observer.waitForUnits(3));
    if (GetParam())
        XDestroyWindow(client, static_cast<Window>(window->windowId()));
    else
        XUnmapWindow(client, static_cast<Window>(window->windowId()));
    XSync(client, False);
    ASSERT_TRUE(observer.waitForStop());
    // Several more ticks find the window gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    manager->StopRecord();
    EXPECT_EQ(observer.stops(), 1);
}

TEST_F(RecordManagerCaptureTest, AnUnknownDisplayFallsBackToThePrimaryAndNothingArrivesAfterTheStop)
{
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeExtendedScreen, nullptr, 0x7ffffff0);
    ASSERT_TRUE(observer.waitForUnits(5));
    manager->StopRecord();
    const size_t atStop = observer.count();
    // Ticks that would have come meanwhile deliver nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(observer.count(), atStop);
    manager->deallocRecord();
    EXPECT_EQ(observer.count(), atStop);

    TempDir dir;
    EXPECT_TRUE(decodesCleanly(writeStream(dir, concatenated(observer.units()))));
}

// The link drops a unit when its video list is full; the TV must not decode what refers to it.
TEST_F(RecordManagerCaptureTest, ADroppedUnitIsFollowedByAKeyFrameWithNoDeltaUnitBetween)
{
    constexpr size_t kDropped = 3;  // a delta unit: key frames are fps x 2 units apart
    observer.onUnit = [](size_t index) { return index == kDropped ? -1 : 0; };
    auto manager = makeManager();
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(observer.waitForUnits(kDropped + 4));
    manager->StopRecord();

    const std::vector<Bytes> units = observer.units();
    const std::vector<int> dropped = nalTypes(units[kDropped]);
    EXPECT_EQ(std::count(dropped.begin(), dropped.end(), 1), static_cast<long>(dropped.size()));
    // The very next unit: an IDR with its parameter sets, and the stream decodes from it on.
    const std::vector<int> next = nalTypes(units[kDropped + 1]);
    ASSERT_GE(next.size(), 3u);
    EXPECT_EQ(std::vector<int>(next.begin(), next.begin() + 2), (std::vector<int>{7, 8}));
    EXPECT_EQ(next.back(), 5);
    TempDir dir;
    EXPECT_TRUE(decodesCleanly(writeStream(dir, concatenated({units.begin() + kDropped + 1, units.end()}))));
}

// Odd window and scaled sizes are common; x264 takes even ones only.
TEST_F(RecordManagerCaptureTest, AnOddCastSizeIsEncodedAtTheEvenSizeBelowIt)
{
    auto manager = makeManager();
    manager->StartRecord(1366, 767, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(observer.waitForUnits(3));
    manager->StopRecord();
    EXPECT_EQ(manager->height(), 767);

    TempDir dir;
    const nlohmann::json report = probeH264(writeStream(dir, concatenated(observer.units())));
    ASSERT_TRUE(report.is_object());
    ASSERT_EQ(report["streams"].size(), 1u);
    EXPECT_EQ(report["streams"][0].value("width", 0), 1366);
    EXPECT_EQ(report["streams"][0].value("height", 0), 766);
}

TEST_F(RecordManagerCaptureTest, ALostXServerEndsTheCaptureReportedOnceAndTheStopStillReturns)
{
    // A server of its own, so the suite's one lives on.
    X11TestServer lost;
    ASSERT_TRUE(lost.start());
    auto manager = makeManager(nullptr, lost.name());
    manager->StartRecord(kCastWidth, kCastHeight, kFps, kScreenTypeWholeScreen, nullptr, 0);
    ASSERT_TRUE(observer.waitForUnits(3));
    EXPECT_EQ(observer.failures(), 0);
    lost.stop();
    // Ticks meet the broken connection: the capture ends, and its owner hears of it, instead of the process.
    ASSERT_TRUE(observer.waitForFailure());
    const size_t afterLoss = observer.count();
    // Several more ticks come and go.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(observer.count(), afterLoss);
    EXPECT_EQ(observer.failures(), 1);
    EXPECT_EQ(observer.stops(), 0);
    manager->StopRecord();
    manager->deallocRecord();
    EXPECT_FALSE(manager->IsStarted());
}

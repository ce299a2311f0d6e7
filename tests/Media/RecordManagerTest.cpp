// RecordManager's bookkeeping, the window record and the letterbox canvas, without an X server.
#include "Media/EncoderH264/LetterboxCanvas.h"
#include "Media/EncoderH264/RecordManager.h"
#include "Media/EncoderH264/windowInfo.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// Sizes from outside (a TV's answer) never overflow the bit rate nor make it undefined.
TEST(RecordManager, BitRateStaysWithinInt32ForAnySize)
{
    EXPECT_EQ(RecordManager::bitRateFor(16384, 16384), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(RecordManager::bitRateFor(std::nan(""), 720), 0);
}

TEST(RecordManager, StartsOnlyOnceAndOnlyWithAFrameRateAWindowAndAnEncoder)
{
    int delivered = 0;
    RecordManager manager;
    manager.SetCallback(&delivered, [](void* user, const uint8_t*, uint32_t) {
        ++*static_cast<int*>(user);
        return int32_t{0};
    });

    manager.StartRecord(1280, 720, 0, kScreenTypeWholeScreen, nullptr, 0);
    EXPECT_FALSE(manager.IsStarted());
    manager.StartRecord(1280, 720, 10, kScreenTypeWindow, nullptr, 0);
    EXPECT_FALSE(manager.IsStarted());
    // No encoder session for these sizes: a cast that sends nothing does not count as started.
    manager.StartRecord(1, 1, 10, 7, nullptr, 0);
    EXPECT_FALSE(manager.IsStarted());
    manager.StartRecord(20000, 720, 10, 7, nullptr, 0);
    EXPECT_FALSE(manager.IsStarted());

    // A kind of source that captures nothing still marks the object started; a second start
    // changes nothing.
    manager.StartRecord(1280, 720, 10, 7, nullptr, 0);
    EXPECT_TRUE(manager.IsStarted());
    manager.StartRecord(640, 360, 5, kScreenTypeWholeScreen, nullptr, 0);
    EXPECT_EQ(manager.width(), 1280);
    EXPECT_EQ(manager.fps(), 10);
    EXPECT_EQ(manager.screenType(), 7);

    manager.StopRecord();
    EXPECT_FALSE(manager.IsStarted());
    manager.StopRecord();
    manager.deallocRecord();
    EXPECT_EQ(delivered, 0);
}

TEST(WindowInfo, LongNamesAreCutAtEighteenUtf16UnitsWithoutSplittingACharacter)
{
    EXPECT_EQ(windowInfo::shortenedName("eighteen chars abc"), "eighteen chars abc");
    EXPECT_EQ(windowInfo::shortenedName("nineteen chars abcd"), "nineteen chars abc...");
    EXPECT_EQ(windowInfo::shortenedName(""), "");
    // Each of these takes three UTF-8 bytes and one UTF-16 unit.
    std::string cjk;
    for (int i = 0; i < 19; ++i)
        cjk += "\xE7\xAA\x97";
    EXPECT_EQ(windowInfo::shortenedName(cjk), cjk.substr(0, 18 * 3) + "...");
    // A character beyond the Basic Multilingual Plane takes two units: at units 18 and 19 it is left out.
    const std::string emoji = "\xF0\x9F\x98\x80";
    EXPECT_EQ(windowInfo::shortenedName(std::string(17, 'a') + emoji), std::string(17, 'a') + "...");
    EXPECT_EQ(windowInfo::shortenedName(std::string(16, 'a') + emoji), std::string(16, 'a') + emoji);
    // A cut-off sequence at the end is walked without reading past the text.
    EXPECT_EQ(windowInfo::shortenedName("abc\xF0\x9F"), "abc\xF0\x9F");
    EXPECT_EQ(windowInfo(42, "a window with a long title", {}, 0).windowName(), "a window with a lo...");
}

namespace {

BgraFrame whitePicture(int width, int height)
{
    BgraFrame picture;
    picture.resize(width, height);
    std::ranges::fill(picture.bytes(), 0xFF);
    return picture;
}

uint8_t lumaAt(const TzVideoEncoder::Frame& frame, int x, int y)
{
    return frame.planes[0][static_cast<size_t>(y) * frame.strides[0] + x];
}

} // namespace

TEST(LetterboxCanvas, PicturesKeepTheirShapeBetweenBlackBars)
{
    constexpr uint8_t kBlack = 16;
    constexpr uint8_t kWhite = 235;
    LetterboxCanvas canvas(1280, 720);

    // Wider than 16:9: full width, bars above and below.
    ASSERT_TRUE(canvas.place(whitePicture(400, 100)));
    EXPECT_EQ(canvas.placement(), (Rect{0, 200, 1280, 320}));
    TzVideoEncoder::Frame frame = canvas.frame();
    EXPECT_EQ(frame.width, 1280);
    EXPECT_EQ(frame.height, 720);
    EXPECT_EQ(lumaAt(frame, 640, 100), kBlack);
    EXPECT_EQ(lumaAt(frame, 640, 360), kWhite);
    EXPECT_EQ(lumaAt(frame, 640, 650), kBlack);

    // Narrower: full height, and what the wide picture covered at the sides is black again.
    ASSERT_TRUE(canvas.place(whitePicture(100, 400)));
    EXPECT_EQ(canvas.placement(), (Rect{550, 0, 180, 720}));
    frame = canvas.frame();
    EXPECT_EQ(lumaAt(frame, 100, 360), kBlack);
    EXPECT_EQ(lumaAt(frame, 640, 10), kWhite);
    EXPECT_EQ(lumaAt(frame, 1200, 360), kBlack);
    for (const uint8_t chroma : frame.planes[1])
        ASSERT_EQ(chroma, 128);

    // Too small to place, or pixels missing for its rows: refused, the canvas kept.
    EXPECT_FALSE(canvas.place(whitePicture(1, 1)));
    BgraFrame truncated = whitePicture(100, 100);
    truncated.height = 200;
    EXPECT_FALSE(canvas.place(truncated));
    EXPECT_EQ(canvas.placement(), (Rect{550, 0, 180, 720}));
}

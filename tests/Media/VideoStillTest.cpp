#include "Media/VideoStill.h"
#include "Utils/Shell.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// Files made by ffmpeg: a red picture in two containers and codecs, a sound with no video, a video
// cut short and bytes that are no video at all.
class VideoStillTest : public ::testing::Test {
protected:
    std::filesystem::path make(const std::string& name, std::vector<std::string> output)
    {
        const auto path = folder / name;
        std::vector<std::string> argv{"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i"};
        argv.insert(argv.end(), output.begin(), output.end());
        argv.push_back(path.string());
        const auto outcome = Shell::run(argv);
        EXPECT_TRUE(outcome && outcome->exitCode == 0) << name;
        return path;
    }
    std::filesystem::path video(const std::string& name, const std::string& codec)
    {
        return make(name, {"color=c=red:s=160x90:d=1:r=25", "-c:v", codec, "-pix_fmt", "yuv420p"});
    }

    TempDir folder;
};

TEST_F(VideoStillTest, TheFirstPictureOfAVideoInAnyContainer)
{
    for (const auto& path : {video("clip.mp4", "libx264"), video("clip.mkv", "mpeg4")}) {
        const auto still = VideoStill::firstPicture(path);
        ASSERT_NE(still, nullptr) << path;
        EXPECT_EQ(still->width, 160);
        EXPECT_EQ(still->height, 90);
        const uint8_t* centre = still->pixel(80, 45);
        // Red, through the codec's loss: blue, green, red in memory order.
        EXPECT_LT(centre[0], 40) << path;
        EXPECT_LT(centre[1], 40) << path;
        EXPECT_GT(centre[2], 200) << path;
    }
}

TEST_F(VideoStillTest, FilesWithoutAPictureGiveNone)
{
    const auto sound = make("sound.mp4", {"sine=d=1", "-c:a", "aac"});
    EXPECT_EQ(VideoStill::firstPicture(sound), nullptr);

    const auto clip = video("cut.mp4", "libx264");
    std::filesystem::resize_file(clip, 200);
    EXPECT_EQ(VideoStill::firstPicture(clip), nullptr);

    std::ofstream(folder / "noise.mov") << std::string(4096, '\x5a');
    EXPECT_EQ(VideoStill::firstPicture(folder / "noise.mov"), nullptr);
    EXPECT_EQ(VideoStill::firstPicture(folder / "missing.mp4"), nullptr);
}

} // namespace

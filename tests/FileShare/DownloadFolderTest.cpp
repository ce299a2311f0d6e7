#include "FileShare/DownloadFolder.h"
#include "FileShare/OfferURL.h"
#include "Platform/HttpDownload.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string contents(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

HttpDownloadedFile body(const fs::path& folder, const std::string& bytes)
{
    static int count = 0;
    const auto scratch = folder / (".scratch-" + std::to_string(++count));
    std::ofstream(scratch, std::ios::binary) << bytes;
    return HttpDownloadedFile(scratch);
}

TEST(DownloadFolder, NamesFromTheTvBecomePlainNamesOfTheFolder)
{
    EXPECT_EQ(DownloadFolder::safeName("report.pdf", 1), "report.pdf");
    EXPECT_EQ(DownloadFolder::safeName("../../etc/passwd", 1), ".._.._etc_passwd");
    EXPECT_EQ(DownloadFolder::safeName("/abs/path", 1), "_abs_path");
    EXPECT_EQ(DownloadFolder::safeName("win\\dows.txt", 1), "win_dows.txt");
    EXPECT_EQ(DownloadFolder::safeName(std::string("nul\0byte", 8), 1), "nul_byte");
    EXPECT_EQ(DownloadFolder::safeName("tab\tand\x7F", 1), "tab_and_");
    EXPECT_EQ(DownloadFolder::safeName("", 3), "file-3");
    EXPECT_EQ(DownloadFolder::safeName(".", 4), "file-4");
    EXPECT_EQ(DownloadFolder::safeName("..", 5), "file-5");
    // Cut at a character boundary below the filesystem's limit.
    std::string longName;
    for (int i = 0; i < 150; ++i)
        longName += "\xC3\xA9";
    const auto cut = DownloadFolder::safeName(longName, 1);
    EXPECT_EQ(cut.size(), DownloadFolder::kMaxNameBytes);
    EXPECT_EQ(cut, longName.substr(0, DownloadFolder::kMaxNameBytes));
}

// A download never replaces a file already in the folder: it takes the next numbered name.
TEST(DownloadFolder, ExistingFilesAreNotOverwritten)
{
    TempDir dir;
    DownloadFolder folder(dir.path());
    std::ofstream(dir / "photo.jpg") << "mine";
    std::ofstream(dir / "photo (1).jpg") << "mine too";

    auto first = body(dir.path(), "tv one");
    EXPECT_EQ(folder.store(first, "photo.jpg"), dir / "photo (2).jpg");
    auto second = body(dir.path(), "tv two");
    EXPECT_EQ(folder.store(second, ".hidden"), dir / ".hidden");
    auto third = body(dir.path(), "tv three");
    EXPECT_EQ(folder.store(third, ".hidden"), dir / ".hidden (1)");

    EXPECT_EQ(contents(dir / "photo.jpg"), "mine");
    EXPECT_EQ(contents(dir / "photo (1).jpg"), "mine too");
    EXPECT_EQ(contents(dir / "photo (2).jpg"), "tv one");
    EXPECT_EQ(contents(dir / ".hidden (1)"), "tv three");
}

// A body that is never placed leaves nothing behind.
TEST(DownloadFolder, UnplacedBodiesAreRemoved)
{
    TempDir dir;
    {
        auto unplaced = body(dir.path(), "partial");
        DownloadFolder elsewhere(dir / "missing-folder");
        EXPECT_FALSE(elsewhere.store(unplaced, "x.bin"));
    }
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(OfferURL, TheHostBeforeThePortBecomesTheTvsAddress)
{
    EXPECT_EQ(OfferURL::replaceConnectURL("http://192.168.9.9:9000/share", "10.0.0.2"), "http://10.0.0.2:9000/share");
    // An https base keeps its scheme whole.
    EXPECT_EQ(OfferURL::replaceConnectURL("https://tv.local:8443/x", "10.0.0.2"), "https://10.0.0.2:8443/x");
    EXPECT_EQ(OfferURL::replaceConnectURL("http://user:pw@tv:81/a:b", "10.0.0.2"), "http://user:pw@10.0.0.2:81/a:b");
    EXPECT_EQ(OfferURL::replaceConnectURL("http://[fe80::1]:9000/s", "10.0.0.2"), "http://10.0.0.2:9000/s");
    EXPECT_EQ(OfferURL::replaceConnectURL("http://tv:9000", "::1"), "http://[::1]:9000");
    // Without a port, a scheme, or an address: unchanged.
    for (const char* base : {"http://tv/share", "http://tv/a:b", "tv:9000/share", "a:b:c", "", "http://", "http://[::1"})
        EXPECT_EQ(OfferURL::replaceConnectURL(base, "10.0.0.2"), base) << base;
    EXPECT_EQ(OfferURL::replaceConnectURL("http://tv:1/", ""), "http://tv:1/");
    EXPECT_EQ(OfferURL::fileURL("http://10.0.0.2:9000/share", "a1"), "http://10.0.0.2:9000/share/a1");
}

} // namespace

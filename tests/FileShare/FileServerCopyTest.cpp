#include "FileServerFixture.h"

#include "FileShare/SharedFileCopy.h"
#include "Platform/GlobalQueue.h"
#include "Platform/Waiting.h"
#include "Utils/AESCtrStream.h"
#include "Utils/EncryptedFrame.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

class FileServerCopy : public FileServerFixture {
protected:
    // The copy on a task of the global queue, as the file panel runs it.
    std::future<std::optional<std::string>> uploadOnGlobalQueue(const fs::path& path, const std::string& fileId)
    {
        auto done = std::make_shared<std::promise<std::optional<std::string>>>();
        GlobalQueue::shared()->async([this, path, fileId, done] { done->set_value(server->uploadFile(path, "fileshare", fileId)); });
        return done->get_future();
    }
};

// The process's peak resident set, in bytes; reset to the current one when `reset` is set. nullopt
// where the kernel offers neither.
std::optional<size_t> peakResidentBytes(bool reset = false)
{
    if (reset && !(std::ofstream("/proc/self/clear_refs") << "5"))
        return std::nullopt;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:"))
            return std::stoull(line.substr(6)) * 1024;
    }
    return std::nullopt;
}

// True when every byte of the file's body (after its IV) decrypts to zero; read a slice at a time.
bool decryptsToZeros(const fs::path& path, const SessionKey& key)
{
    std::ifstream in(path, std::ios::binary);
    Bytes iv(AESCtrStream::kIvLength);
    in.read(reinterpret_cast<char*>(iv.data()), static_cast<std::streamsize>(iv.size()));
    auto stream = AESCtrStream::create(*key, iv);
    Bytes slice(1 << 20);
    while (stream && in.read(reinterpret_cast<char*>(slice.data()), static_cast<std::streamsize>(slice.size())).gcount() > 0) {
        const std::span piece(slice.data(), static_cast<size_t>(in.gcount()));
        if (!stream->update(piece, piece) || std::any_of(piece.begin(), piece.end(), [](uint8_t byte) { return byte != 0; }))
            return false;
    }
    return stream.has_value();
}

} // namespace

TEST_F(FileServerCopy, PlainCopyIsByteEqualAndItsUrlNamesTheFile)
{
    const Bytes bytes = patternBytes(100000, 1);
    EXPECT_EQ(server->uploadFile(source("a.bin", bytes), "fileshare", "1234"), urlOf("1234"));
    EXPECT_EQ(readBytes(shared("1234")), bytes);
    EXPECT_EQ(keyReads, 1);
}

TEST_F(FileServerCopy, EncryptedCopyIsAnEncryptedFrameOfTheSourceAtEverySliceBoundary)
{
    key = makeKey(2);
    const size_t slice = SharedFileCopy::kSliceLength;
    // The IV goes in front of the ciphertext in whole slices: a source 16 bytes short of a slice fills one.
    for (const size_t size : {size_t{0}, size_t{1}, size_t{10000}, slice - 16, slice - 15, slice, 2 * slice + 5}) {
        SCOPED_TRACE(size);
        const Bytes bytes = patternBytes(size, 3);
        const std::string fileId = std::to_string(size + 10);
        // The progress counts the source's bytes, not the IV: from 0 to the size, never past it.
        std::vector<std::pair<uint64_t, uint64_t>> progress;
        ASSERT_EQ(server->uploadFile(source(fileId, bytes), "fileshare", fileId,
                                     [&](uint64_t copied, uint64_t total) { progress.emplace_back(copied, total); }),
                  urlOf(fileId));
        const Bytes stored = readBytes(shared(fileId));
        ASSERT_EQ(stored.size(), size + 16);
        EXPECT_EQ(EncryptedFrame::open(stored, *key), bytes);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.front(), std::make_pair(uint64_t{0}, uint64_t{size}));
        EXPECT_EQ(progress.back(), std::make_pair(uint64_t{size}, uint64_t{size}));
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    }
}

TEST_F(FileServerCopy, EncryptedCopyDecryptsWithTheOpensslCommandLine)
{
    key = makeKey(4);
    const Bytes bytes = patternBytes(3 * SharedFileCopy::kSliceLength + 17, 5);
    const fs::path path = source("b.bin", bytes);
    ASSERT_TRUE(server->uploadFile(path, "fileshare", "55"));
    ASSERT_TRUE(server->uploadFile(path, "fileshare", "56"));

    const Bytes stored = readBytes(shared("55"));
    ASSERT_EQ(stored.size(), bytes.size() + 16);
    const Bytes iv(stored.begin(), stored.begin() + 16);
    writeBytes(root / "body.bin", Bytes(stored.begin() + 16, stored.end()));
    ASSERT_TRUE(openssl({"enc", "-d", "-aes-256-ctr", "-K", toHex(*key), "-iv", toHex(iv), "-in", (root / "body.bin").string(),
                         "-out", (root / "back.bin").string()}));
    EXPECT_EQ(readBytes(root / "back.bin"), bytes);
    // Each copy has an IV of its own.
    const Bytes other = readBytes(shared("56"));
    ASSERT_EQ(other.size(), stored.size());
    EXPECT_NE(Bytes(other.begin(), other.begin() + 16), iv);
}

TEST_F(FileServerCopy, LargeFileStreamsThroughBoundedMemory)
{
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's shadow of the copy's slices and threads outgrows the bound";
#endif
    constexpr size_t kSize = size_t{64} << 20;
    const fs::path path = sources() / "sparse.bin";
    {
        std::ofstream(path, std::ios::binary);
    }
    fs::resize_file(path, kSize);
    key = makeKey(6);

    const auto before = peakResidentBytes(true);
    if (!before)
        GTEST_SKIP() << "the kernel does not report or reset the peak resident set";
    ASSERT_TRUE(server->uploadFile(path, "fileshare", "64"));
    const auto after = peakResidentBytes();
    ASSERT_TRUE(after);
    // Holding the file (let alone file and ciphertext) would raise the peak by 64 MiB at least.
    EXPECT_LT(*after - *before, kSize / 4);

    ASSERT_EQ(fs::file_size(shared("64")), kSize + 16);
    EXPECT_TRUE(decryptsToZeros(shared("64"), key));
}

TEST_F(FileServerCopy, ACopyIsKeptWhileItsKeyHoldsAndSealedAgainUnderANewOne)
{
    const Bytes first = patternBytes(5000, 8);
    key = makeKey(7);
    EXPECT_EQ(server->uploadFile(source("first.bin", first), "fileshare", "77"), urlOf("77"));
    // Pushed again under the same key: the copy stays.
    EXPECT_EQ(server->uploadFile(source("second.bin", patternBytes(5000, 9)), "fileshare", "77"), urlOf("77"));
    EXPECT_EQ(EncryptedFrame::open(readBytes(shared("77")), *key), first);
    // Under the next session's key the copy is sealed again: one sealed under the old key would be of
    // no use to the TV.
    key = makeKey(17);
    EXPECT_EQ(server->uploadFile(source("first.bin", first), "fileshare", "77"), urlOf("77"));
    EXPECT_EQ(EncryptedFrame::open(readBytes(shared("77")), *key), first);
    // So is a file this server did not seal.
    writeFile(shared("78"), "already here");
    EXPECT_EQ(server->uploadFile(source("first.bin", first), "fileshare", "78"), urlOf("78"));
    EXPECT_EQ(EncryptedFrame::open(readBytes(shared("78")), *key), first);
    EXPECT_EQ(entries(sharedFolder()), (std::set<std::string>{"77", "78"}));
}

TEST_F(FileServerCopy, AServerThatNeedsAKeyMakesNoCopyBeforeOneIsBound)
{
    FileServer::Options unbound = options();
    unbound.sessionKey = nullptr;
    unbound.keyRequired = true;
    unbound.cachesFolder = root.path() / "unbound";
    FileServer early(unbound);
    const fs::path file = source("early.bin", patternBytes(100, 3));
    EXPECT_EQ(early.uploadFile(file, "fileshare", "5"), std::nullopt);
    EXPECT_TRUE(entries(early.getUploadPath() / FileServer::kSharedFolderName).empty());
    key = makeKey(5);
    early.setSessionKeyProvider([this] { return key; });
    ASSERT_TRUE(early.uploadFile(file, "fileshare", "5"));
    EXPECT_EQ(EncryptedFrame::open(readBytes(early.getUploadPath() / FileServer::kSharedFolderName / "5"), *key),
              patternBytes(100, 3));
}

TEST_F(FileServerCopy, ConcurrentCopiesOfOneIdKeepOneWholeFile)
{
    key = makeKey(9);
    std::vector<Bytes> contents;
    std::vector<std::future<std::optional<std::string>>> results;
    for (uint32_t i = 0; i < 8; ++i) {
        contents.push_back(patternBytes(SharedFileCopy::kSliceLength + i, 100 + i));
        results.push_back(uploadOnGlobalQueue(source("same" + std::to_string(i), contents.back()), "31"));
    }
    for (auto& result : results) {
        ASSERT_TRUE(finishes(result));
        EXPECT_EQ(result.get(), urlOf("31"));
    }
    const auto opened = EncryptedFrame::open(readBytes(shared("31")), *key);
    ASSERT_TRUE(opened);
    EXPECT_NE(std::find(contents.begin(), contents.end(), *opened), contents.end());
    EXPECT_EQ(entries(sharedFolder()), std::set<std::string>{"31"});
}

TEST_F(FileServerCopy, ConcurrentCopiesOfDistinctIdsAllLandWithOneKeyReadEach)
{
    key = makeKey(10);
    constexpr uint32_t kCopies = 16;
    std::vector<std::future<std::optional<std::string>>> results;
    for (uint32_t i = 0; i < kCopies; ++i) {
        const std::string fileId = std::to_string(100 + i);
        results.push_back(uploadOnGlobalQueue(source(fileId, patternBytes(50000 + i * 4099, i)), fileId));
    }
    for (uint32_t i = 0; i < kCopies; ++i) {
        const std::string fileId = std::to_string(100 + i);
        ASSERT_TRUE(finishes(results[i]));
        EXPECT_EQ(results[i].get(), urlOf(fileId));
        EXPECT_EQ(EncryptedFrame::open(readBytes(shared(fileId)), *key), readBytes(sources() / fileId));
    }
    EXPECT_EQ(keyReads, int{kCopies});
    EXPECT_EQ(entries(sharedFolder()).size(), size_t{kCopies});
}

TEST_F(FileServerCopy, SourcesThatCannotBeReadFailAndLeaveNothing)
{
    const fs::path fifo = sources() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (bool encrypted : {false, true}) {
        key = encrypted ? makeKey(11) : nullptr;
        EXPECT_FALSE(server->uploadFile(sources() / "missing", "fileshare", "1"));
        EXPECT_FALSE(server->uploadFile(sources(), "fileshare", "2"));
        EXPECT_FALSE(server->uploadFile(fifo, "fileshare", "3"));
    }
    EXPECT_TRUE(entries(sharedFolder()).empty());
}

TEST_F(FileServerCopy, AWriteFailureMidCopyRemovesThePartialFile)
{
    const fs::path path = source("big.bin", patternBytes(4 * SharedFileCopy::kSliceLength, 12));
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    // A full disk, as the writer sees it: writes past the limit fail (EFBIG) instead of raising SIGXFSZ.
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = SharedFileCopy::kSliceLength + 100;
    for (bool encrypted : {false, true}) {
        key = encrypted ? makeKey(13) : nullptr;
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const auto url = server->uploadFile(path, "fileshare", "88");
        ::setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_FALSE(url);
        EXPECT_TRUE(entries(sharedFolder()).empty());
    }
    std::signal(SIGXFSZ, oldHandler);
}

TEST_F(FileServerCopy, AnUnusableKeyNeverFallsBackToAPlainCopy)
{
    key = std::make_shared<const Bytes>(patternBytes(31, 14));
    EXPECT_FALSE(server->uploadFile(source("c.bin", patternBytes(100, 15)), "fileshare", "9"));
    EXPECT_TRUE(entries(sharedFolder()).empty());
}

TEST_F(FileServerCopy, NamesThatLeaveTheirFolderAreRefused)
{
    const fs::path path = source("d.bin", patternBytes(100, 16));
    const auto cacheBefore = entries(cache());
    const auto servedBefore = entries(server->getUploadPath());
    const std::vector<std::string> fileIds{"", ".", "..", "../x", "a/b", "/etc/x", ".hidden", std::string("a\0b", 3)};
    for (const std::string& fileId : fileIds) {
        SCOPED_TRACE(fileId);
        EXPECT_FALSE(server->uploadFile(path, "fileshare", fileId));
        EXPECT_FALSE(server->getUploadPathWithDir("fileshare", fileId));
    }
    for (const char* dir : {"", ".", "..", "../server/fileshare", "fileshare/.."})
        EXPECT_FALSE(server->uploadFile(path, dir, "5"));
    EXPECT_EQ(entries(cache()), cacheBefore);
    EXPECT_EQ(entries(server->getUploadPath()), servedBefore);
    EXPECT_TRUE(entries(sharedFolder()).empty());
    EXPECT_EQ(keyReads, 0);
}

TEST_F(FileServerCopy, ACopyRunningAcrossAClearIsNotPlaced)
{
    // The key is read after the copy began and before it is written: a session ending right then.
    server->setSessionKeyProvider([this] {
        server->clear();
        return makeKey(17);
    });
    EXPECT_FALSE(server->uploadFile(source("e.bin", patternBytes(1000, 18)), "fileshare", "6"));
    EXPECT_TRUE(entries(sharedFolder()).empty());

    server->setSessionKeyProvider({});
    EXPECT_EQ(server->uploadFile(sources() / "e.bin", "fileshare", "6"), urlOf("6"));
    EXPECT_EQ(readBytes(shared("6")), readBytes(sources() / "e.bin"));
}

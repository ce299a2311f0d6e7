#include "Platform/CurlHttpClient.h"
#include "Platform/Waiting.h"
#include "Utils/TestFolders.h"
#include "tv-sim/TvFileServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <mutex>

namespace fs = std::filesystem;

namespace {

// Results by URL, filled on the client's worker.
class Results {
public:
    HttpClient::Completion completionFor(const std::string& key)
    {
        return [this, key](HttpDownloadResult result) {
            std::lock_guard lock(mutex_);
            results_.emplace(key, std::move(result));
        };
    }
    bool waitFor(size_t count)
    {
        return eventually([&] {
            std::lock_guard lock(mutex_);
            return results_.size() >= count;
        });
    }
    HttpDownloadResult take(const std::string& key)
    {
        std::lock_guard lock(mutex_);
        auto node = results_.extract(key);
        return node ? std::move(node.mapped()) : HttpDownloadResult{};
    }

private:
    std::mutex mutex_;
    std::map<std::string, HttpDownloadResult> results_;
};

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CurlHttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(tvFiles.start()); }

    std::string url(const std::string& id) const { return tvFiles.baseURL() + "/" + id; }

    TempDir folder;
    TvFileServer tvFiles;
    Results results;
};

// Many transfers run at once on the one worker; each complete body is a file to place.
TEST_F(CurlHttpClientTest, ConcurrentDownloadsYieldTheirBodies)
{
    CurlHttpClient client;
    for (int i = 0; i < 20; ++i)
        tvFiles.addFile(std::to_string(i), std::vector<uint8_t>(100'000 + i, static_cast<uint8_t>('a' + i)));
    tvFiles.addFile("big", std::vector<uint8_t>(8 << 20, 'B'));
    std::atomic<uint64_t> lastProgress{0}, announced{0};
    client.download(url("big"), folder.path(), [&](uint64_t received, uint64_t total) {
        lastProgress = received;
        announced = total;
    }, results.completionFor("big"));
    for (int i = 0; i < 20; ++i)
        client.download(url(std::to_string(i)), folder.path(), {}, results.completionFor(std::to_string(i)));
    ASSERT_TRUE(results.waitFor(21));

    for (int i = 0; i < 20; ++i) {
        auto result = results.take(std::to_string(i));
        ASSERT_TRUE(result.file) << result.error.value_or(Error{}).description;
        EXPECT_EQ(result.status, 200);
        const fs::path target = folder / ("file-" + std::to_string(i));
        ASSERT_EQ(result.file->place(target), std::nullopt);
        EXPECT_EQ(readAll(target), std::string(100'000 + i, static_cast<char>('a' + i)));
    }
    auto big = results.take("big");
    ASSERT_TRUE(big.file);
    EXPECT_EQ(big.bytes, 8u << 20);
    EXPECT_EQ(lastProgress, 8u << 20);
    EXPECT_EQ(announced, 8u << 20);
    // A placed name is never replaced.
    std::ofstream(folder / "taken") << "mine";
    EXPECT_EQ(big.file->place(folder / "taken"), Error::posix(EEXIST));
    EXPECT_EQ(readAll(folder / "taken"), "mine");
}

// A status outside 2xx, a cut body, a refused connection and a URL we do not fetch are failures that
// leave nothing in the folder.
TEST_F(CurlHttpClientTest, FailuresLeaveNoFile)
{
    tvFiles.addFile("missing", std::vector<uint8_t>{'x'}, TvFileServer::Behaviour::NotFound);
    tvFiles.addFile("cut", std::vector<uint8_t>(1 << 20, 'c'), TvFileServer::Behaviour::CutMidway);
    // A port that was just free: nothing listens there.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::string refused = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x";

    {
        CurlHttpClient client;
        const std::map<std::string, std::string> urls{{"404", url("missing")}, {"cut", url("cut")},
                                                      {"refused", refused}, {"unparsed", "http://[bad/x"},
                                                      {"ftp", "ftp://127.0.0.1/x"}, {"empty", ""},
                                                      {"unknown id", url("nothing-here")}};
        for (const auto& [key, target] : urls)
            client.download(target, folder.path(), {}, results.completionFor(key));
        ASSERT_TRUE(results.waitFor(urls.size()));
        for (const auto& [key, target] : urls) {
            const auto result = results.take(key);
            EXPECT_FALSE(result.file) << key;
            ASSERT_TRUE(result.error) << key;
            EXPECT_NE(result.error->description, "") << key;
            if (key == "404") {
                EXPECT_EQ(result.status, 404);
            }
        }
        client.download(url("cut"), folder / "no-such-folder", {}, results.completionFor("folder"));
        ASSERT_TRUE(results.waitFor(1));
        EXPECT_FALSE(results.take("folder").file);
    }
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// A peer that never answers is ended by cancel(), or by the client's destruction.
TEST_F(CurlHttpClientTest, CancelAndDestructionEndSilentTransfers)
{
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 8), 0);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string target = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/never";
    {
        CurlHttpClient client;
        const auto id = client.download(target, folder.path(), {}, results.completionFor("cancelled"));
        client.download(target, folder.path(), {}, results.completionFor("destroyed"));
        client.cancel(id);
        ASSERT_TRUE(results.waitFor(1));
        EXPECT_EQ(results.take("cancelled").error, (Error{HttpClient::kErrorDomain, HttpClient::Cancelled, "cancelled"}));
    }
    ASSERT_TRUE(results.waitFor(1));
    EXPECT_EQ(results.take("destroyed").error, (Error{HttpClient::kErrorDomain, HttpClient::Cancelled, "cancelled"}));
    ::close(silent);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

} // namespace

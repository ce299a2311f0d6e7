#include "DescriptorFlags.h"
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
#include <chrono>
#include <thread>
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

// A peer on loopback that answers every GET with a body of no announced length that never ends: as
// fast as it can, or one byte every 100 ms.
class EndlessPeer {
public:
    explicit EndlessPeer(bool trickle) : trickle_(trickle)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~EndlessPeer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/endless"; }

private:
    void serve()
    {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        char request[4096];
        ::recv(fd, request, sizeof request, 0);
        const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        ::send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        const std::vector<char> zeros(trickle_ ? 1 : 65536, 0);
        // Bounded, so a client that never cuts it off fails the test instead of hanging it.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < giveUp && ::send(fd, zeros.data(), zeros.size(), MSG_NOSIGNAL) > 0) {
            if (trickle_)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        ::close(fd);
    }

    const bool trickle_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

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
    std::optional<bool> scratchClosesOnExec;
    client.download(url("big"), folder.path(), [&](uint64_t received, uint64_t total) {
        if (lastProgress == 0)
            scratchClosesOnExec = DescriptorFlags::closesOnExec(".pelkor-download-");
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
    EXPECT_EQ(scratchClosesOnExec, true) << "a child started meanwhile would hold the body open";
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

// Each limit ends its transfer with an error that names it, and leaves no file: an endless body past
// its cap, a trickle below the low speed, a transfer past its deadline, a body the disk cannot hold.
TEST_F(CurlHttpClientTest, TransfersPastTheirLimitsFailAndLeaveNoFile)
{
    tvFiles.addFile("offered", std::vector<uint8_t>(2 << 20, 'o'));
    EndlessPeer endless(false);
    EndlessPeer trickle(true);
    EndlessPeer late(true);
    {
        CurlHttpClient client;
        HttpTransferLimits capped;
        capped.maxBytes = 1 << 20;
        HttpTransferLimits slow;
        slow.lowSpeedTime = std::chrono::seconds(1);
        HttpTransferLimits deadline;
        deadline.lowSpeedLimit = 0;
        deadline.deadline = std::chrono::milliseconds(800);
        HttpTransferLimits noRoom;
        noRoom.reserveBytes = UINT64_MAX / 2;
        const auto started = std::chrono::steady_clock::now();
        client.download(endless.url(), folder.path(), capped, {}, results.completionFor("endless"));
        client.download(url("offered"), folder.path(), capped, {}, results.completionFor("offered"));
        client.download(trickle.url(), folder.path(), slow, {}, results.completionFor("trickle"));
        client.download(late.url(), folder.path(), deadline, {}, results.completionFor("late"));
        client.download(url("offered"), folder.path(), noRoom, {}, results.completionFor("no room"));
        ASSERT_TRUE(results.waitFor(5));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(results.take("endless").error.value_or(Error{}).description, "the body is larger than its cap of 1048576 bytes");
        EXPECT_EQ(results.take("offered").error.value_or(Error{}).description, "the announced body is larger than its cap of 1048576 bytes");
        EXPECT_NE(results.take("trickle").error.value_or(Error{}).description.find("too slow"), std::string::npos);
        EXPECT_NE(results.take("late").error.value_or(Error{}).description.find("timed out"), std::string::npos);
        EXPECT_EQ(results.take("no room").error.value_or(Error{}).description.rfind("not enough free space", 0), 0U);
    }
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

} // namespace

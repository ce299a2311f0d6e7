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

// A socket listening on a free port of 127.0.0.1; the base of its URLs in `base`.
int listenOnLoopback(int backlog, std::string& base)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, backlog), 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    base = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    return fd;
}

std::string readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A peer on loopback that answers every GET with a body of no announced length that never ends: as
// fast as it can, or one byte every 100 ms.
class EndlessPeer {
public:
    explicit EndlessPeer(bool trickle) : trickle_(trickle), listener_(listenOnLoopback(8, base_))
    {
        thread_ = std::thread([this] { serve(); });
    }
    ~EndlessPeer()
    {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string url() const { return base_ + "/endless"; }

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
    std::string base_;
    const int listener_;
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
    client.download(url("big"), folder.path(), {}, [&](uint64_t received, uint64_t total) {
        if (lastProgress == 0)
            scratchClosesOnExec = DescriptorFlags::closesOnExec(".pelkor-download-");
        lastProgress = received;
        announced = total;
    }, results.completionFor("big"));
    for (int i = 0; i < 20; ++i)
        client.download(url(std::to_string(i)), folder.path(), {}, {}, results.completionFor(std::to_string(i)));
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
    std::string refused;
    ::close(listenOnLoopback(1, refused));
    refused += "/x";

    {
        CurlHttpClient client;
        const std::map<std::string, std::string> urls{{"404", url("missing")}, {"cut", url("cut")},
                                                      {"refused", refused}, {"unparsed", "http://[bad/x"},
                                                      {"ftp", "ftp://127.0.0.1/x"}, {"empty", ""},
                                                      {"unknown id", url("nothing-here")}};
        for (const auto& [key, target] : urls)
            client.download(target, folder.path(), {}, {}, results.completionFor(key));
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
        client.download(url("cut"), folder / "no-such-folder", {}, {}, results.completionFor("folder"));
        ASSERT_TRUE(results.waitFor(1));
        EXPECT_FALSE(results.take("folder").file);
    }
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// A peer that never answers is ended by cancel(), or by the client's destruction.
TEST_F(CurlHttpClientTest, CancelAndDestructionEndSilentTransfers)
{
    std::string target;
    const int silent = listenOnLoopback(8, target);
    target += "/never";
    {
        CurlHttpClient client;
        const auto id = client.download(target, folder.path(), {}, {}, results.completionFor("cancelled"));
        client.download(target, folder.path(), {}, {}, results.completionFor("destroyed"));
        client.cancel(id);
        ASSERT_TRUE(results.waitFor(1));
        EXPECT_EQ(results.take("cancelled").error, (Error{HttpClient::kErrorDomain, HttpClient::Cancelled, "cancelled"}));
    }
    ASSERT_TRUE(results.waitFor(1));
    EXPECT_EQ(results.take("destroyed").error, (Error{HttpClient::kErrorDomain, HttpClient::Cancelled, "cancelled"}));
    ::close(silent);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// Each limit ends its transfer with the client's own error, which names the limit, and leaves no file:
// an endless body past its cap, an announced body past it, a trickle below the low speed and a peer
// that takes no connection (both curl's time-outs underneath).
TEST_F(CurlHttpClientTest, TransfersPastTheirLimitsFailWithTheClientsErrorsAndLeaveNoFile)
{
    tvFiles.addFile("offered", std::vector<uint8_t>(2 << 20, 'o'));
    EndlessPeer endless(false);
    EndlessPeer trickle(true);
    // One connection nobody accepts fills a queue of none: the kernel drops every later handshake.
    std::string unanswered;
    const int full = listenOnLoopback(0, unanswered);
    const int queued = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(full, reinterpret_cast<sockaddr*>(&address), &length);
    ASSERT_EQ(::connect(queued, reinterpret_cast<sockaddr*>(&address), length), 0);
    {
        CurlHttpClient::Options options;
        options.connectTimeout = std::chrono::milliseconds(300);
        CurlHttpClient client(options);
        HttpTransferLimits capped;
        capped.maxBytes = 1 << 20;
        HttpTransferLimits slow;
        slow.lowSpeedLimit = 1024;
        slow.lowSpeedTime = std::chrono::seconds(1);
        const auto started = std::chrono::steady_clock::now();
        client.download(endless.url(), folder.path(), capped, {}, results.completionFor("endless"));
        client.download(url("offered"), folder.path(), capped, {}, results.completionFor("offered"));
        client.download(trickle.url(), folder.path(), slow, {}, results.completionFor("trickle"));
        client.download(unanswered + "/x", folder.path(), {}, {}, results.completionFor("unanswered"));
        ASSERT_TRUE(results.waitFor(4));
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        const auto error = [](HttpClient::ErrorCode code, const char* text) { return Error{HttpClient::kErrorDomain, code, text}; };
        EXPECT_EQ(results.take("endless").error, error(HttpClient::TooLarge, "the body is larger than its cap of 1048576 bytes"));
        EXPECT_EQ(results.take("offered").error, error(HttpClient::TooLarge, "the announced body is larger than its cap of 1048576 bytes"));
        EXPECT_EQ(results.take("trickle").error, error(HttpClient::TooSlow, "slower than 1024 bytes a second over 1 s"));
        EXPECT_EQ(results.take("unanswered").error, error(HttpClient::TooSlow, "no connection within 300 ms"));
    }
    ::close(queued);
    ::close(full);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

} // namespace

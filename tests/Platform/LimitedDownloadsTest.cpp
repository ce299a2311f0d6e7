// Downloads held to their limits, through the real libcurl client against a server of the test's own
// on 127.0.0.1 whose bodies never end, trickle, or never come.
#include "Platform/CurlHttpClient.h"
#include "Platform/LimitedDownloads.h"
#include "Platform/Waiting.h"
#include "Utils/TestFolders.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Serves GET by path: /endless (a body without end), /trickle (one byte every 200 ms), /silent (never answers), anything else "hello". Counts the
// connections open at once.
class PacedServer {
public:
    PacedServer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 64) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~PacedServer()
    {
        stopping_ = true;
        ::shutdown(listener_, SHUT_RDWR);
        if (acceptor_.joinable())
            acceptor_.join();
        {
            std::lock_guard lock(mutex_);
            for (const int fd : open_)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (auto& thread : connections_)
            thread.join();
        ::close(listener_);
    }

    std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }
    int mostAtOnce() const { return mostAtOnce_; }

private:
    void acceptLoop()
    {
        for (;;) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0 || stopping_) {
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            std::lock_guard lock(mutex_);
            open_.push_back(fd);
            // A connection the client has already closed still waits for its serving thread to notice; it
            // does not count, or a loaded machine would show one transfer too many.
            const auto stillOpen = std::count_if(open_.begin(), open_.end(), [](int open) {
                pollfd peer{open, POLLRDHUP, 0};
                return ::poll(&peer, 1, 0) == 0;
            });
            mostAtOnce_ = std::max(mostAtOnce_.load(), static_cast<int>(stillOpen));
            connections_.emplace_back([this, fd] { serve(fd); });
        }
    }

    void serve(int fd)
    {
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        // A client that left before its request came gets nothing.
        const std::string path = request.size() > 4 ? request.substr(4, request.find(' ', 4) - 4) : "/silent";
        const auto write = [fd](const std::string& bytes) {
            return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
        };
        const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
        if (path == "/endless") {
            const std::string chunk(64 * 1024, 'z');
            if (write(head + "\r\n"))
                while (!stopping_ && write(chunk)) { }
        } else if (path == "/trickle") {
            if (write(head + "\r\n"))
                while (!stopping_ && write("t"))
                    std::this_thread::sleep_for(200ms);
        } else if (path == "/silent") {
            while (!stopping_ && ::recv(fd, buffer, sizeof buffer, 0) > 0) { }
        } else {
            write(head + "Content-Length: 5\r\n\r\nhello");
        }
        std::lock_guard lock(mutex_);
        std::erase(open_, fd);
        ::close(fd);
    }

    const int listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> mostAtOnce_{0};
    std::mutex mutex_;
    std::vector<int> open_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

class LimitedDownloadsTest : public ::testing::Test {
protected:
    // A disk with `room` bytes above the margin.
    LimitedDownloads::Limits limits(uint64_t room = uint64_t{1} << 30)
    {
        LimitedDownloads::Limits l;
        l.freeSpace = [room, margin = l.freeSpaceMargin](const fs::path&) { return std::optional(margin + room); };
        return l;
    }

    // Starts the downloads and waits for every completion.
    std::vector<HttpDownloadResult> fetchAll(LimitedDownloads& downloads, const std::vector<std::string>& paths)
    {
        std::vector<std::promise<HttpDownloadResult>> promises(paths.size());
        for (size_t i = 0; i < paths.size(); ++i)
            downloads.download(server.url(paths[i]), folder.path(), {},
                               [&promise = promises[i]](HttpDownloadResult result) { promise.set_value(std::move(result)); });
        std::vector<HttpDownloadResult> results;
        for (auto& promise : promises) {
            auto future = promise.get_future();
            EXPECT_TRUE(finishes(future));
            results.push_back(future.get());
        }
        return results;
    }

    size_t filesLeft() const
    {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()));
    }

    PacedServer server;
    TempDir folder;
    std::shared_ptr<CurlHttpClient> curl = std::make_shared<CurlHttpClient>();
};

// The room on the disk above the margin is the cap the client holds each body to.
TEST_F(LimitedDownloadsTest, EndlessBodiesRunFourAtOnceAndEachIsCutAtItsCapLeavingNoFile)
{
    LimitedDownloads downloads(curl, limits(256 * 1024));
    const auto results = fetchAll(downloads, {"/endless", "/endless", "/endless", "/endless", "/endless", "/endless", "/small"});
    EXPECT_LE(server.mostAtOnce(), 4);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_FALSE(results[i].file);
        EXPECT_EQ(results[i].error, (Error{HttpClient::kErrorDomain, HttpClient::TooLarge, "the body is larger than its cap of 262144 bytes"}));
    }
    ASSERT_TRUE(results[6].file);
    EXPECT_EQ(results[6].bytes, 5u);
    EXPECT_EQ(filesLeft(), 1u) << "only the small body's scratch file, held by its result";
}

TEST_F(LimitedDownloadsTest, ADiskAtItsMarginRefusesAtOnce)
{
    LimitedDownloads downloads(curl, limits(0));
    const auto results = fetchAll(downloads, {"/small"});
    EXPECT_FALSE(results[0].file);
    EXPECT_NE(results[0].error.value_or(Error{}).description.find("bytes free"), std::string::npos) << results[0].error.value_or(Error{}).description;
}

// The client cuts the trickle over the window in whole seconds, rounded up; the silent peer is cut
// here, long before its window ends.
TEST_F(LimitedDownloadsTest, ATrickleAndASilentPeerAreCut)
{
    auto l = limits();
    l.minBytesPerSecond = 100;
    l.lowSpeedWindow = 1500ms;
    l.idleTimeout = 700ms;
    LimitedDownloads downloads(curl, l);
    const auto results = fetchAll(downloads, {"/trickle", "/silent"});
    EXPECT_EQ(results[0].error, (Error{HttpClient::kErrorDomain, HttpClient::TooSlow, "slower than 100 bytes a second over 2 s"}));
    EXPECT_EQ(results[1].error, (Error{HttpClient::kErrorDomain, HttpClient::TooSlow, "nothing came for 0.7 s"}));
    EXPECT_EQ(filesLeft(), 0u);
}

TEST_F(LimitedDownloadsTest, CancelledWaitingAndRunningTransfersCompleteAsCancelled)
{
    LimitedDownloads downloads(curl, [this] {
        auto l = limits();
        l.maxAtOnce = 1;
        return l;
    }());
    std::promise<HttpDownloadResult> running;
    std::promise<HttpDownloadResult> waiting;
    const auto first = downloads.download(server.url("/silent"), folder.path(), {},
                                          [&](HttpDownloadResult r) { running.set_value(std::move(r)); });
    const auto second = downloads.download(server.url("/small"), folder.path(), {},
                                           [&](HttpDownloadResult r) { waiting.set_value(std::move(r)); });
    downloads.cancel(second);
    downloads.cancel(first);
    auto waited = waiting.get_future();
    auto ran = running.get_future();
    ASSERT_TRUE(finishes(waited));
    ASSERT_TRUE(finishes(ran));
    EXPECT_EQ(waited.get().error.value_or(Error{}).description, "cancelled");
    EXPECT_EQ(ran.get().error.value_or(Error{}).description, "cancelled");
}

} // namespace

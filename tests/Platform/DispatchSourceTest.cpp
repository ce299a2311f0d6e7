#include "Platform/DispatchSource.h"
#include "Platform/GlobalQueue.h"
#include "Platform/MainLoopFixture.h"
#include "Platform/MainQueue.h"
#include "Platform/SerialQueue.h"
#include "Platform/Waiting.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

// A connected pair of stream sockets, closed at the end unless a cancel handler took one.
struct SocketPair {
    SocketPair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
            watched = fds[0];
            peer = fds[1];
        }
    }
    ~SocketPair()
    {
        if (watched >= 0)
            ::close(watched);
        if (peer >= 0)
            ::close(peer);
    }
    SocketPair(const SocketPair&) = delete;
    SocketPair& operator=(const SocketPair&) = delete;

    void send(const std::string& bytes) const { ASSERT_EQ(::write(peer, bytes.data(), bytes.size()), ssize_t(bytes.size())); }

    int watched = -1;
    int peer = -1;
};

bool isOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

size_t openDescriptorCount()
{
    const std::filesystem::directory_iterator entries("/proc/self/fd");
    return size_t(std::distance(std::filesystem::begin(entries), std::filesystem::end(entries)));
}

} // namespace

TEST(DispatchSource, ReadEventsAreLevelTriggeredAndTheCancelHandlerClosesTheDescriptor)
{
    SocketPair pair;
    ASSERT_GE(pair.watched, 0);
    const int fd = pair.watched;
    auto queue = SerialQueue::create("reader");
    std::string received; // on the queue only
    std::unique_ptr<DispatchSource> source;
    std::promise<std::pair<std::string, bool>> cancelled;

    source = DispatchSource::create(
        fd, DispatchSource::Kind::Read, queue,
        [&] {
            // One byte per call: the rest keeps the descriptor readable, so calls keep coming.
            char byte = 0;
            if (::read(fd, &byte, 1) == 1)
                received += byte;
            if (received.size() == 5)
                source->cancel();
        },
        [&] {
            const bool stillOpen = isOpen(fd);
            ::close(fd);
            cancelled.set_value({received, stillOpen && queue->isCurrent()});
        });
    ASSERT_NE(source, nullptr);
    pair.watched = -1; // the cancel handler closes it
    pair.send("hello, more than five");
    source->resume();

    auto future = cancelled.get_future();
    ASSERT_TRUE(finishes(future));
    EXPECT_EQ(future.get(), std::make_pair(std::string("hello"), true));
}

using DispatchSourceOnMainTest = MainLoopFixture;

TEST_F(DispatchSourceOnMainTest, SuspendHoldsEventsAndResumeDeliversWhatIsStillPending)
{
    SocketPair pair;
    ASSERT_GE(pair.watched, 0);
    int calls = 0;
    bool consume = false;
    std::unique_ptr<DispatchSource> source;
    source = DispatchSource::create(pair.watched, DispatchSource::Kind::Read, MainQueue::shared(), [&] {
        ++calls;
        if (consume) {
            char bytes[16];
            EXPECT_GT(::read(pair.watched, bytes, sizeof bytes), 0);
        } else {
            source->suspend(); // leaves the byte unread
        }
    });
    ASSERT_NE(source, nullptr);
    source->resume();
    pair.send("x");
    ASSERT_TRUE(loop->runUntil([&] { return calls == 1; }));
    // Still readable, but suspended: a wrong call would come within this short wait. It only looks for
    // calls that must never come, so no speed is judged.
    EXPECT_FALSE(loop->runUntil([&] { return calls > 1; }, 20ms));

    // Resuming with the byte still pending delivers it, without any new data arriving.
    consume = true;
    source->resume();
    ASSERT_TRUE(loop->runUntil([&] { return calls == 2; }));
    pair.send("y");
    ASSERT_TRUE(loop->runUntil([&] { return calls == 3; }));
}

TEST(DispatchSource, CancelHandlerRunsOnceAfterTheRunningEventHandlerReturns)
{
    SocketPair pair;
    ASSERT_GE(pair.watched, 0);
    struct Shared {
        std::atomic<int> events{0};
        std::atomic<bool> inHandler{false};
        std::promise<void> entered;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<int> cancels{0};
        std::promise<std::pair<int, bool>> cancelSeen;
    };
    auto shared = std::make_shared<Shared>();
    auto source = DispatchSource::create(
        pair.watched, DispatchSource::Kind::Read, GlobalQueue::shared(),
        [shared] {
            shared->inHandler = true;
            if (++shared->events == 1) {
                shared->entered.set_value();
                shared->released.wait(); // never reads: the socket stays readable
            }
            shared->inHandler = false;
        },
        [shared] {
            if (++shared->cancels == 1)
                shared->cancelSeen.set_value({shared->events.load(), shared->inHandler.load()});
        });
    ASSERT_NE(source, nullptr);
    pair.send("data");
    source->resume();
    ASSERT_TRUE(finishes(shared->entered.get_future()));

    source->cancel();
    source->cancel();
    source->resume(); // after cancel: nothing
    source.reset();   // destroying cancels again: still one cancel handler
    shared->release.set_value();

    auto seen = shared->cancelSeen.get_future();
    ASSERT_TRUE(finishes(seen));
    EXPECT_EQ(seen.get(), std::make_pair(1, false));
    // One more trip through the queue's pool: a second cancel handler or a late event would show here.
    std::promise<void> flushed;
    GlobalQueue::shared()->async([&] { flushed.set_value(); });
    flushed.get_future().wait();
    EXPECT_EQ(shared->cancels, 1);
    EXPECT_EQ(shared->events, 1);
}

TEST(DispatchSource, CancelBeforeResumeAndDestructionStillRunTheCancelHandler)
{
    SocketPair pair;
    ASSERT_GE(pair.watched, 0);
    auto queue = SerialQueue::create("cancel-early");
    std::promise<void> first;
    std::promise<void> second;
    auto never = [] { ADD_FAILURE() << "no event expected"; };
    auto cancelledSource =
        DispatchSource::create(pair.watched, DispatchSource::Kind::Read, queue, never, [&] { first.set_value(); });
    auto droppedSource =
        DispatchSource::create(pair.watched, DispatchSource::Kind::Read, queue, never, [&] { second.set_value(); });
    ASSERT_NE(cancelledSource, nullptr);
    ASSERT_NE(droppedSource, nullptr);
    cancelledSource->cancel();
    droppedSource.reset();
    EXPECT_TRUE(finishes(first.get_future()));
    EXPECT_TRUE(finishes(second.get_future()));
    EXPECT_TRUE(isOpen(pair.watched)); // the caller's descriptor is never closed by a source
}

TEST(DispatchSource, ReadAndWriteSourcesShareOneDescriptorAndSeeEndOfStream)
{
    SocketPair pair;
    ASSERT_GE(pair.watched, 0);
    auto queue = SerialQueue::create("duplex");
    std::unique_ptr<DispatchSource> writer;
    std::unique_ptr<DispatchSource> reader;
    std::promise<void> wrote;
    std::promise<std::string> readToEnd;
    std::string received; // on the queue only

    writer = DispatchSource::create(pair.watched, DispatchSource::Kind::Write, queue, [&] {
        ASSERT_EQ(::write(pair.watched, "ping", 4), 4);
        writer->cancel();
        wrote.set_value();
    });
    reader = DispatchSource::create(pair.watched, DispatchSource::Kind::Read, queue, [&] {
        char bytes[64];
        const ssize_t count = ::read(pair.watched, bytes, sizeof bytes);
        if (count > 0) {
            received.append(bytes, size_t(count));
            return;
        }
        reader->cancel();
        readToEnd.set_value(received); // 0: the peer closed
    });
    ASSERT_NE(writer, nullptr);
    ASSERT_NE(reader, nullptr);
    writer->resume();
    reader->resume();

    ASSERT_TRUE(finishes(wrote.get_future()));
    char echoed[4] = {};
    ASSERT_EQ(::read(pair.peer, echoed, 4), 4);
    ASSERT_EQ(std::string(echoed, 4), "ping");
    pair.send("pong");
    ::close(pair.peer);
    pair.peer = -1;

    auto future = readToEnd.get_future();
    ASSERT_TRUE(finishes(future));
    EXPECT_EQ(future.get(), "pong");
}

TEST(DispatchSource, RefusesADescriptorThatIsNotOpen)
{
    auto queue = SerialQueue::create("none");
    EXPECT_EQ(DispatchSource::create(-1, DispatchSource::Kind::Read, queue, [] {}), nullptr);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(DispatchSource::create(fds[0], DispatchSource::Kind::Read, queue, [] {}), nullptr);
}

TEST(DispatchSource, ReadAndWriteSourcesHoldNoDescriptorsOfTheirOwn)
{
    // A server connection watches its socket for reading and writing: that must cost no descriptor
    // beyond the socket itself, or the process limit is met at a third of the connections.
    constexpr size_t kPairs = 16;
    std::vector<std::unique_ptr<SocketPair>> pairs;
    for (size_t i = 0; i < kPairs; ++i) {
        pairs.push_back(std::make_unique<SocketPair>());
        ASSERT_GE(pairs.back()->watched, 0);
    }
    auto queue = SerialQueue::create("many");
    // The reactor's own descriptor exists before the count.
    DispatchSource::create(pairs.front()->watched, DispatchSource::Kind::Read, queue, [] {});
    const size_t before = openDescriptorCount();

    std::atomic<size_t> writable{0};
    std::vector<std::unique_ptr<DispatchSource>> readers;
    std::vector<std::unique_ptr<DispatchSource>> writers(kPairs);
    for (size_t i = 0; i < kPairs; ++i) {
        readers.push_back(DispatchSource::create(pairs[i]->watched, DispatchSource::Kind::Read, queue, [] {}));
        writers[i] = DispatchSource::create(pairs[i]->watched, DispatchSource::Kind::Write, queue, [&writable, &writers, i] {
            writers[i]->suspend();
            ++writable;
        });
        ASSERT_NE(readers.back(), nullptr);
        ASSERT_NE(writers[i], nullptr);
        readers.back()->resume();
        writers[i]->resume();
    }
    EXPECT_TRUE(eventually([&] { return writable == kPairs; }));
    EXPECT_EQ(openDescriptorCount(), before);
    readers.clear();
    writers.clear();
    queue->sync([] {}); // no handler is still running
}

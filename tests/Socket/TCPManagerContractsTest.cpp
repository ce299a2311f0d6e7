#include "Socket/TCPManagerTestSupport.h"

#include "Socket/DelegateSlot.h"
#include "Socket/ReceiveList.h"
#include "Socket/SendLists.h"
#include "Utils/ContractDeathTest.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The TV link's threading contracts, asserted in debug builds.
namespace {

// Destroys the manager from inside a delegate call on the receive thread.
class DestroyingDelegate final : public ActiveVersionsDelegate {
public:
    explicit DestroyingDelegate(TCPManager* manager) : manager_(manager) {}
    void activeVersionHandler(int) override { delete manager_; }
    void isSpeakerHandler(bool) override {}

private:
    TCPManager* manager_;
};

TCPManager::Options quickOptions()
{
    TCPManager::Options options;
    options.timing = quickTiming();
    return options;
}

TEST(LinkContractsDeathTest, ASessionIsNotDestroyedOnItsQueue)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            auto* manager = new TCPManager(quickOptions());
            manager->processQueue()->sync([manager] { delete manager; });
        },
        "never destroyed on its own queue");
}

TEST(LinkContractsDeathTest, ASessionIsNotDestroyedFromADelegateCall)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            MainQueue::install(std::make_shared<TestMainLoop>());
            TvSim tv(TCPManagerFixture::tvOptions());
            auto* manager = new TCPManager(quickOptions());
            DestroyingDelegate destroying(manager);
            manager->setActiveVersionsDelegate(&destroying);
            if (tv.start() && manager->connectToHost("127.0.0.1", tv.port()) &&
                tv.waitForMessagesOfType(kMsgClientInfo, 1) && tv.send(kMsgActiveVersion, TvMessages::int32(1)))
                awaitDeath();
        },
        "never destroyed from one of its delegate calls");
}

// Connects a client whose listener destroys it as the link comes up.
void destroyClientFromItsListener()
{
    TvSim tv(TCPManagerFixture::tvOptions());
    TcpClient* client = nullptr;
    TcpNativeInfo info{.fn = [](void* user, TcpClient*, int type, const char*, const uint8_t*, uint64_t, uint32_t) {
                           if (type == kMsgConnected)
                               delete *static_cast<TcpClient**>(user);
                           return 0;
                       },
                       .user = &client};
    client = new TcpClient(&info, quickTiming());
    if (tv.start() && client->connect("127.0.0.1", tv.port()))
        awaitDeath();
}

// The main thread may be joining the very thread that waits for it.
TEST(LinkContractsDeathTest, ATransportListenerDoesNotWaitForTheMainThread)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            MainQueue::install(std::make_shared<TestMainLoop>());
            TvSim tv(TCPManagerFixture::tvOptions());
            TcpNativeInfo info{.fn = [](void*, TcpClient*, int type, const char*, const uint8_t*, uint64_t, uint32_t) {
                                   if (type == kMsgConnected)
                                       MainQueue::shared()->sync([] {});
                                   return 0;
                               }};
            TcpClient client(&info, quickTiming());
            if (tv.start() && client.connect("127.0.0.1", tv.port()))
                awaitDeath();
        },
        "never from a transport or hand-off thread");
}

TEST(LinkContractsDeathTest, ATransportClientIsNotDestroyedFromItsListener)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(destroyClientFromItsListener(), "never destroyed from its listener");
}

// Each list between the transport's threads has one thread at each end that keeps frames in order.
TEST(LinkContractsDeathTest, ATransportListHasOneThreadAtEachEnd)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            ReceiveList list("VideoData", 16);
            list.close();
            list.take();
            std::thread([&list] { list.take(); }).join();
        },
        "emptied by one thread");
    EXPECT_DEATH(
        {
            SendLists lists;
            lists.close();
            lists.take();
            std::thread([&lists] { lists.take(); }).join();
        },
        "the socket's only writer");
}

// A delegate whose one call runs the given work.
struct Callee {
    std::function<void()> work;
    void run() { work(); }
};

// Thread A is inside a call into slot b's delegate; this thread, inside a call into slot a's
// delegate, replaces b's delegate and would wait for A: had A's call replaced a's delegate in turn,
// neither would ever return.
TEST(LinkContractsDeathTest, ADelegateCallDoesNotWaitForACallOnAnotherThread)
{
    SKIP_WITHOUT_ASSERTIONS();
    EXPECT_DEATH(
        {
            DelegateSlot<Callee> a;
            DelegateSlot<Callee> b;
            std::mutex mutex;
            std::condition_variable changed;
            bool entered = false;
            Callee held{[&] {
                std::unique_lock lock(mutex);
                entered = true;
                changed.notify_all();
                changed.wait_for(lock, kWaitLimit, [] { return false; });
            }};
            Callee replacing{[&] { b.set(nullptr); }};
            a.set(&replacing);
            b.set(&held);
            std::thread other([&] { b.call(&Callee::run); });
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return entered; });
            }
            a.call(&Callee::run);
            other.join();
        },
        "never waits for a delegate call on another thread");
}

} // namespace

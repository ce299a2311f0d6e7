#include "Socket/TCPManagerTestSupport.h"

#include "Socket/MessageType.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using namespace std::chrono_literals;

// Where a blocked delegate call and the thread that clears its slot meet.
struct Rendezvous {
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false;
    bool cleared = false;
};

// Blocks inside pushFileSuccess until its slot was cleared (or a while has passed, since a slot that
// waits for the call can't be cleared before it ends), then touches itself.
class BlockingDelegate final : public VXTcpReverseControlDelegate {
public:
    explicit BlockingDelegate(Rendezvous& meeting) : meeting_(meeting) {}

    void pushFileSuccess() override
    {
        std::unique_lock lock(meeting_.mutex);
        meeting_.entered = true;
        meeting_.changed.notify_all();
        meeting_.changed.wait_for(lock, 500ms, [this] { return meeting_.cleared; });
        ++calls_;
    }
    void onReceiveScreenReaolution(int, int) override {}
    void onReveiveScreenVideoData(const uint8_t*, int64_t) override {}
    void tvScreenStop() override {}
    void tvScreenFail(int) override {}
    void tvKeyHandle(int) override {}
    void tvInviteToReverse() override {}

private:
    Rendezvous& meeting_;
    int calls_ = 0;
};

// Clears its own slot from inside a call on the receive thread.
class SelfClearingDelegate final : public VXTcpReverseControlDelegate {
public:
    explicit SelfClearingDelegate(TCPManager& manager) : manager_(manager) {}

    void tvScreenStop() override
    {
        manager_.setReverseControlDelegate(nullptr);
        ++calls;
    }
    void onReceiveScreenReaolution(int, int) override {}
    void onReveiveScreenVideoData(const uint8_t*, int64_t) override {}
    void tvScreenFail(int) override {}
    void tvKeyHandle(int) override {}
    void pushFileSuccess() override {}
    void tvInviteToReverse() override {}

    std::atomic<int> calls{0};

private:
    TCPManager& manager_;
};

using TCPManagerDelegateTest = TCPManagerFixture;

// The owner frees the delegate as soon as clearing its slot returns, while the receive thread is
// inside a call into it (ASan reports the use after free if clearing does not wait for the call).
TEST_F(TCPManagerDelegateTest, ClearingASlotWaitsForTheCallUnderWay)
{
    connectAndGreet();
    Rendezvous meeting;
    auto* blocking = new BlockingDelegate(meeting);
    manager.setReverseControlDelegate(blocking);
    ASSERT_TRUE(tv.send(kMsgFilePushAck));
    {
        std::unique_lock lock(meeting.mutex);
        ASSERT_TRUE(meeting.changed.wait_for(lock, TvSim::kDefaultTimeout, [&] { return meeting.entered; }));
    }
    manager.setReverseControlDelegate(nullptr);
    delete blocking;
    {
        std::lock_guard lock(meeting.mutex);
        meeting.cleared = true;
    }
    meeting.changed.notify_all();
    // Later messages find the slot empty.
    ASSERT_TRUE(tv.send(kMsgFilePushAck));
    syncWithManager();
}

TEST_F(TCPManagerDelegateTest, ADelegateMayClearItsOwnSlotFromInsideACall)
{
    connectAndGreet();
    SelfClearingDelegate self(manager);
    manager.setReverseControlDelegate(&self);
    ASSERT_TRUE(tv.send(kMsgTvScreenStop));
    ASSERT_TRUE(tv.send(kMsgTvScreenStop));
    syncWithManager();
    EXPECT_EQ(self.calls, 1);
    EXPECT_EQ(manager.delegate<TvScreenDelegate>(), nullptr);
}

} // namespace

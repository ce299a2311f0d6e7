#pragma once

#include "Platform/MainLoopFixture.h"
#include "Platform/FixedWidthQueue.h"
#include "Platform/TestMainLoop.h"
#include "Socket/ActiveVersionsDelegate.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/ROZIOperationDelegate.h"
#include "Socket/TCPManager.h"
#include "Socket/TcpClientTestSupport.h"
#include "Socket/VXTcpConnectDelegate.h"
#include "Socket/VXTcpReverseControlDelegate.h"
#include "Socket/VXTcpReverseVersionDelegate.h"
#include "tv-sim/TvSim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

// Where a delegate call arrived.
enum class Where { Queue, Main, Transport };

inline std::ostream& operator<<(std::ostream& out, Where where)
{
    return out << (where == Where::Queue ? "queue" : where == Where::Main ? "main" : "transport");
}

// One delegate call: the selector's first keyword, its arguments as text ("a,b"; bools as 0/1), the
// bytes of a data argument, and the thread it came on.
struct DelegateCall {
    std::string name;
    std::string args;
    std::vector<uint8_t> bytes;
    Where where = Where::Transport;
    std::thread::id thread;
};

// Implements all five delegate interfaces and records every call with the queue or thread it
// arrived on: the session queue, the main loop's thread, or else a transport thread.
class RecordingDelegate final : public VXTcpConnectDelegate,
                                public VXTcpReverseControlDelegate,
                                public VXTcpReverseVersionDelegate,
                                public ActiveVersionsDelegate,
                                public ROZIOperationDelegate {
public:
    explicit RecordingDelegate(std::shared_ptr<TestMainLoop> loop) : loop_(std::move(loop)) {}

    // Fills all five slots; calls on the manager's session queue are told apart from then on.
    void attach(TCPManager& manager)
    {
        queue_ = manager.processQueue();
        manager.setConnectDelegate(this);
        manager.setReverseControlDelegate(this);
        manager.setReverseVersionDelegate(this);
        manager.setRoziDelegate(this);
        manager.setActiveVersionsDelegate(this);
    }

    std::vector<DelegateCall> calls() const
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    std::vector<DelegateCall> calls(const std::string& name) const
    {
        auto all = calls();
        std::erase_if(all, [&](const DelegateCall& call) { return call.name != name; });
        return all;
    }
    size_t count() const { return calls().size(); }
    size_t count(const std::string& name) const { return calls(name).size(); }
    void clear()
    {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    // Runs the main loop (without moving its clock) until the condition holds.
    bool waitUntil(const std::function<bool()>& done) { return loop_->runUntil(done, kWaitLimit); }
    bool waitFor(const std::string& name, size_t count = 1)
    {
        return waitUntil([&] { return this->count(name) >= count; });
    }

    // VXTcpConnectDelegate
    void onConnectSuccess(const std::string& name) override { record("onConnectSuccess", name); }
    void onConnectFail() override { record("onConnectFail", ""); }
    void onDisConnect(LinkEndReason reason) override { record("onDisConnect", linkEndReasonName(reason)); }
    void onReceiveScreenCode(const std::string& code) override { record("onReceiveScreenCode", code); }
    void onVideoQuality(int level, int width, int height, int fps) override
    {
        record("onVideoQuality", join({level, width, height, fps}));
    }
    void onTvcontrolReceived(int type, const uint8_t* data, int64_t len) override
    {
        record("onTvcontrolReceived", std::to_string(type), data, len);
    }
    void tvRequestMirror() override { record("tvRequestMirror", ""); }
    void tvIntErruptMirror() override { record("tvIntErruptMirror", ""); }
    void tvMirrorLock() override { record("tvMirrorLock", ""); }
    void connectListMessage(const std::string& json) override { record("connectListMessage", json); }
    void changeButtonName(int64_t index, int status) override { record("changeButtonName", join({index, status})); }
    void tvShareFile2pc(const std::string& json) override { record("tvShareFile2pc", json); }
    void supportChangeQuality(bool support) override { record("supportChangeQuality", join({support})); }

    // VXTcpReverseControlDelegate
    void onReceiveScreenReaolution(int width, int height) override
    {
        record("onReceiveScreenReaolution", join({width, height}));
    }
    void onReveiveScreenVideoData(const uint8_t* data, int64_t len) override
    {
        record("onReveiveScreenVideoData", std::to_string(len), data, len);
    }
    void tvScreenStop() override { record("tvScreenStop", ""); }
    void tvScreenFail(int reason) override { record("tvScreenFail", join({reason})); }
    void tvKeyHandle(int keyCode) override { record("tvKeyHandle", join({keyCode})); }
    void pushFileSuccess() override { record("pushFileSuccess", ""); }
    void tvInviteToReverse() override { record("tvInviteToReverse", ""); }

    // VXTcpReverseVersionDelegate
    void tvAppVersion(int version) override { record("tvAppVersion", join({version})); }
    void changeControlStatus(bool granted) override { record("changeControlStatus", join({granted})); }
    void getWindowSizeSendTv(int messageType) override { record("getWindowSizeSendTv", join({messageType})); }

    // ActiveVersionsDelegate
    void activeVersionHandler(int level) override { record("activeVersionHandler", join({level})); }
    void isSpeakerHandler(bool speaker) override { record("isSpeakerHandler", join({speaker})); }

    // ROZIOperationDelegate
    void onReveiveCameraVideoData(const uint8_t* data, int64_t len) override
    {
        record("onReveiveCameraVideoData", std::to_string(len), data, len);
    }
    void handleMicDataToDecode(const uint8_t* data, int len) override
    {
        record("handleMicDataToDecode", std::to_string(len), data, len);
    }
    void showRoziTipWindow(int code, int64_t type) override { record("showRoziTipWindow", join({code, type})); }
    void tvOpenRozi(const std::string& device) override { record("tvOpenRozi", device); }
    void enableRoziFunction(bool enable) override { record("enableRoziFunction", join({enable})); }

private:
    static std::string join(std::initializer_list<int64_t> values)
    {
        std::string text;
        for (const int64_t value : values)
            text += (text.empty() ? "" : ",") + std::to_string(value);
        return text;
    }

    void record(const std::string& name, const std::string& args, const uint8_t* data = nullptr, int64_t len = 0)
    {
        DelegateCall call{name, args, {}, Where::Transport, std::this_thread::get_id()};
        if (data && len > 0)
            call.bytes.assign(data, data + len);
        if (queue_ && queue_->isCurrent())
            call.where = Where::Queue;
        else if (loop_->isLoopThread())
            call.where = Where::Main;
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }

    std::shared_ptr<FixedWidthQueue> queue_;
    const std::shared_ptr<TestMainLoop> loop_;
    mutable std::mutex mutex_;
    std::vector<DelegateCall> calls_;
};

inline std::span<const uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A manager wired to a TV peer on loopback, with a recording delegate in all five slots, short
// transport timings and a pointer filter on a clock the test sets (milliseconds).
class TCPManagerFixture : public MainLoopFixture {
public:
    // A TV that beats only when asked, so it sends nothing a test did not ask for.
    static TvSim::Options tvOptions(bool encryption = false)
    {
        TvSim::Options options;
        options.heartbeatInterval = 0ms;
        options.name = "Living Room";
        options.encryption = encryption;
        return options;
    }

protected:
    explicit TCPManagerFixture(TvSim::Options options = tvOptions()) : tv(std::move(options)) {}

    TCPManager::Options managerOptions()
    {
        TCPManager::Options options;
        options.timing = quickTiming();
        options.pointerFilter = &filter;
        return options;
    }

    void SetUp() override
    {
        ASSERT_TRUE(tv.start());
        delegate.attach(manager);
    }

    // Connects, and waits for the TV's answer and for the TV to record the client information it
    // answered (it records a message after answering it).
    void connectAndGreet()
    {
        const size_t before = delegate.count("onConnectSuccess");
        ASSERT_TRUE(manager.connectToHost("127.0.0.1", tv.port()));
        ASSERT_TRUE(delegate.waitFor("onConnectSuccess", before + 1));
        ASSERT_TRUE(tv.waitForMessagesOfType(kMsgClientInfo, tv.linksAccepted()));
    }

    // Everything the TV sent before has been handled on the receive thread, and what that posted to
    // the session queue has run.
    void syncWithManager()
    {
        const size_t before = delegate.count("tvMirrorLock");
        ASSERT_TRUE(tv.send(kMsgMirrorLocked));
        ASSERT_TRUE(delegate.waitFor("tvMirrorLock", before + 1));
        manager.processQueue()->sync([] {});
    }

    TvSim tv;
    std::atomic<double> nowMs{0};
    PointerFilter filter{[this] { return nowMs.load(); }};
    // Outlives the manager, which reports the end of the link as it goes.
    RecordingDelegate delegate{loop};
    TCPManager manager{managerOptions()};
};

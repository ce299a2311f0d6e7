#include "Socket/MessageCatalogue.h"
#include "Socket/MessageType.h"
#include "Socket/PointerFilter.h"
#include "Socket/SessionControl.h"
#include "Socket/SessionEventDelivery.h"
#include "Socket/SessionEventTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

namespace {

using Delivery = SessionEvent::Delivery;

bool reachesSession(const MessageInfo& info)
{
    return (info.direction & (MessageInfo::kIn | MessageInfo::kEvent)) != 0 &&
           (info.handling == MessageInfo::Handling::Session || info.handling == MessageInfo::Handling::NoAction);
}

TEST(SessionEventTableTest, EveryTypeThatReachesTheSessionHasOneRow)
{
    std::set<uint16_t> rows;
    for (const SessionEvent& event : SessionEventTable::all()) {
        SCOPED_TRACE(MessageCatalogue::name(event.type));
        EXPECT_TRUE(rows.insert(event.type).second) << "twice in the table";
        EXPECT_NE(event.handle, nullptr);
        const MessageInfo* info = MessageCatalogue::find(event.type);
        ASSERT_NE(info, nullptr);
        EXPECT_TRUE(reachesSession(*info));
        EXPECT_EQ(SessionEventTable::find(event.type), &event);
    }
    // The rest of what the TV sends is logged as unprocessed, or never leaves the transport.
    for (const MessageInfo& info : MessageCatalogue::all()) {
        SCOPED_TRACE(info.name);
        EXPECT_EQ(rows.count(info.type) == 1, reachesSession(info));
    }
    EXPECT_EQ(SessionEventTable::find(kMsgPeerIdentity), nullptr);
    EXPECT_EQ(SessionEventTable::find(0x7777), nullptr);
}

TEST(SessionEventTableTest, EachTypeIsDeliveredWhereTheSessionNeedsIt)
{
    const std::map<uint16_t, Delivery> posted = {
        {kMsgDisconnected, Delivery::SessionQueue},   {kMsgScreenCode, Delivery::SessionQueue},
        {kMsgServerInfo, Delivery::SessionQueue},     {kMsgTvRequestCast, Delivery::SessionQueue},
        {kMsgTvInterruptCast, Delivery::SessionQueue}, {kMsgVideoQuality, Delivery::SessionQueue},
        {kMsgTouchDown, Delivery::SessionQueue},      {kMsgTouchMove, Delivery::SessionQueue},
        {kMsgTouchUp, Delivery::SessionQueue},        {kMsgReverseInvite, Delivery::MainQueueLater},
    };
    for (const SessionEvent& event : SessionEventTable::all()) {
        SCOPED_TRACE(MessageCatalogue::name(event.type));
        const auto it = posted.find(event.type);
        EXPECT_EQ(event.delivery, it == posted.end() ? Delivery::AtOnce : it->second);
    }
    for (const auto& [type, delivery] : posted)
        EXPECT_NE(SessionEventTable::find(type), nullptr) << MessageCatalogue::name(type);
}

// A queue that runs every task at once on the caller's thread: a task posted to it is not on it.
class MisroutingQueue final : public DispatchQueue {
public:
    MisroutingQueue() : DispatchQueue("misrouting") {}
    void async(Task task) override { task(); }
    void sync(const Task& task) override { task(); }
    void asyncAfter(Clock::duration, Task task) override { task(); }
    bool isCurrent() const override { return false; }
};

class NoSession final : public SessionControl {
public:
    std::optional<uint64_t> linkEnded() override { return std::nullopt; }
    void closeEndedLink(uint64_t) override {}
    void serverInfoArrived() override {}
    void answerClientInfoRequest() override {}
    void answerKeyExchange(std::span<const uint8_t>) override {}
    void tcpClientRelease() override {}
    PointerFilter& pointerFilter() override { return filter; }

    PointerFilter filter;
};

// A delivery's contracts, asserted in debug builds: over a session that does nothing and a queue that
// runs every task at once, off itself.
class SessionEventDeliveryDeathTest : public testing::Test {
protected:
    void SetUp() override
    {
#ifdef NDEBUG
        GTEST_SKIP() << "assertions are off in this build";
#endif
    }

    SessionEventDelivery delivery(Delivery how) { return SessionEventDelivery(how, delegates, session, queue, queue); }

    const std::shared_ptr<SessionDelegates> delegates = std::make_shared<SessionDelegates>();
    NoSession session;
    MisroutingQueue queue;
};

TEST_F(SessionEventDeliveryDeathTest, APostedActionRunsOnItsQueue)
{
    for (const Delivery how : {Delivery::SessionQueue, Delivery::MainQueueLater})
        EXPECT_DEATH(delivery(how).deliver([] {}), "runs on the queue it was posted to");
}

// The rows whose handlers hand on the transport's own bytes: a row edited to post would leave their
// action a dangling pointer, so the handler refuses to run under any delivery but at once.
TEST_F(SessionEventDeliveryDeathTest, AHandlerThatLendsTheTransportsBytesDeliversAtOnce)
{
    const std::vector<uint8_t> bytes(16, 0x5A);
    for (const uint16_t type : {kMsgVideoFrame, kMsgCameraData, kMsgMicData, kMsgKeyExchangeOffer}) {
        SCOPED_TRACE(MessageCatalogue::name(type));
        const SessionEvent* event = SessionEventTable::find(type);
        ASSERT_NE(event, nullptr);
        EXPECT_EQ(event->delivery, Delivery::AtOnce);
        SessionEventDelivery posted = delivery(Delivery::SessionQueue);
        EXPECT_DEATH(event->handle(posted, type, bytes), "lends the transport's bytes delivers at once");
    }
}

} // namespace

#include "Rozi/RoziWriteQueue.h"

#include <gtest/gtest.h>

namespace {

using Admit = RoziWriteQueue::Admit;

TEST(RoziWriteQueueTest, FillsToTheCapExactlyAndLogsOnceForEachStall)
{
    RoziWriteQueue queue(100);
    EXPECT_EQ(queue.admit(60), Admit::Queued);
    EXPECT_EQ(queue.admit(40), Admit::Queued);
    EXPECT_EQ(queue.admit(1), Admit::DroppedFirst);
    EXPECT_EQ(queue.admit(1), Admit::Dropped);
    // Written in order: the oldest message's bytes leave.
    queue.written();
    EXPECT_EQ(queue.queuedBytes(), 40u);
    EXPECT_EQ(queue.admit(61), Admit::DroppedFirst) << "a new stall is told again";
    EXPECT_EQ(queue.admit(60), Admit::Queued);
    queue.written();
    queue.written();
    queue.written(); // more than was queued changes nothing
    EXPECT_EQ(queue.queuedBytes(), 0u);
    // A message larger than the cap never fits, and never wraps the count.
    EXPECT_EQ(queue.admit(SIZE_MAX), Admit::DroppedFirst);
    EXPECT_EQ(queue.queuedBytes(), 0u);
}

} // namespace

#include "Utils/SameThreadCompletion.h"

#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

TEST(SameThreadCompletion, ACompletionBeforeStartReturnsIsHandedBackAndOnlyTheFirstCounts)
{
    int laterCalls = 0;
    const auto result = SameThreadCompletion<int, const std::string&>::call(
        [](auto completion) {
            completion(7, "seven");
            completion(8, "eight");
        },
        [&laterCalls](int, const std::string&) { ++laterCalls; });
    ASSERT_TRUE(result);
    EXPECT_EQ(std::get<0>(*result), 7);
    EXPECT_EQ(std::get<1>(*result), "seven");
    EXPECT_EQ(laterCalls, 0);
}

TEST(SameThreadCompletion, ACompletionFromAnotherThreadOrAfterStartReturnedGoesToLater)
{
    std::promise<int> fromOtherThread;
    const auto crossed = SameThreadCompletion<int>::call(
        [](auto completion) { std::thread([completion] { completion(1); }).join(); },
        [&fromOtherThread](int value) { fromOtherThread.set_value(value); });
    EXPECT_FALSE(crossed);
    EXPECT_EQ(fromOtherThread.get_future().get(), 1);

    SameThreadCompletion<int>::Completion kept;
    int later = 0;
    const auto deferred = SameThreadCompletion<int>::call([&kept](auto completion) { kept = completion; },
        [&later](int value) { later = value; });
    EXPECT_FALSE(deferred);
    kept(2);
    EXPECT_EQ(later, 2) << "a call on the same thread after start returned is a later one";
}

#include "WebServer/HttpServerDateCache.h"
#include "WebServer/HttpServerFunctions.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// Seconds that share a cache slot, asked for in turns by several threads at once: each answer is the
// second's own text, whatever the others asked for last.
TEST(HttpServerDateCache, EachSecondReadsAsItsOwnTextOnEveryThread)
{
    constexpr int64_t kBase = 1700000000;
    std::vector<int64_t> seconds;
    for (int64_t i = 0; i < 8; ++i)
        seconds.push_back(kBase + i * 64);
    seconds.push_back(-1);

    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&seconds, &mismatches, t] {
            for (int round = 0; round < 200; ++round) {
                for (const int64_t second : seconds) {
                    mismatches[t] += HttpServerDateCache::rfc822(second).view() != HttpServerFunctions::formatRFC822Date(second);
                    mismatches[t] += HttpServerDateCache::iso8601(second).view() != HttpServerFunctions::formatISO8601Date(second);
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(mismatches.size(), 0));
    EXPECT_EQ(HttpServerDateCache::rfc822(-1).view(), "Wed, 31 Dec 1969 23:59:59 GMT");
    EXPECT_EQ(HttpServerDateCache::iso8601(kBase).view(), "2023-11-14T22:13:20+00:00");
}

}  // namespace

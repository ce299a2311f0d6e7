#include "WebServer/HttpServerByteRange.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kNone = HttpServerByteRange::kNotFound;

void expectRange(std::string_view header, uint64_t location, uint64_t length)
{
    const auto range = HttpServerByteRange::parse(header);
    ASSERT_TRUE(range) << header;
    EXPECT_EQ(range->location, location) << header;
    EXPECT_EQ(range->length, length) << header;
}

} // namespace

TEST(HttpServerByteRange, ParsesTheThreeForms)
{
    expectRange("bytes=0-0", 0, 1);
    expectRange("bytes=0-499", 0, 500);
    expectRange("bytes=500-", 500, kNone);
    expectRange("bytes=-500", kNone, 500);
    expectRange("Bytes= 10 - 20 ", 10, 11);
    expectRange("bytes=9223372036854775806-9223372036854775807", 9223372036854775806ULL, 2);
    // An end below the start still asks for the bytes from the start on.
    expectRange("bytes=5-3", 5, kNone);
    EXPECT_FALSE(HttpServerByteRange{}.isSet());
}

TEST(HttpServerByteRange, RefusesWhatIsNotOneWellFormedRange)
{
    for (const char* bad : {"", "bytes=", "bytes=-", "bytes=-0", "items=0-1", "bytes=0-1,3-4", "bytes=1-2-3",
                            "bytes=+5-", "bytes=-+5", "bytes=0x10-", "bytes=1e3-", "bytes=a-b", "bytes=--5",
                            // beyond 2^63-1, and beyond 2^64
                            "bytes=9223372036854775808-", "bytes=-18446744073709551615", "bytes=0-99999999999999999999999"}) {
        EXPECT_FALSE(HttpServerByteRange::parse(bad)) << bad;
    }
}

TEST(HttpServerByteRange, ResolvesAgainstTheFileSize)
{
    using Span = HttpServerByteRange::Span;
    const auto expectSpan = [](HttpServerByteRange range, uint64_t size, uint64_t offset, uint64_t length) {
        const std::optional<Span> span = range.resolve(size);
        ASSERT_TRUE(span);
        EXPECT_EQ(span->offset, offset);
        EXPECT_EQ(span->length, length);
    };
    expectSpan({500, kNone}, 1000, 500, 500);
    expectSpan({kNone, 100}, 1000, 900, 100);
    expectSpan({kNone, 5000}, 1000, 0, 1000);
    expectSpan({0, 1}, 1000, 0, 1);
    expectSpan({990, 100}, 1000, 990, 10);
    EXPECT_FALSE((HttpServerByteRange{1000, kNone}.resolve(1000)));
    EXPECT_FALSE((HttpServerByteRange{5000, 10}.resolve(1000)));
    EXPECT_FALSE((HttpServerByteRange{kNone, 10}.resolve(0)));
}

#include "Media/EncoderH264/AnnexBConverter.h"

#include <gtest/gtest.h>

#include <vector>

using Bytes = std::vector<uint8_t>;

TEST(AnnexBConverter, RewritesEachLengthPrefixedNalUnitBehindAStartCode)
{
    const Bytes data{0, 0, 0, 2, 0x67, 0x42, 0, 0, 0, 0, 0, 0, 0, 3, 0x65, 0x88, 0x84};
    Bytes out{0xAA};
    EXPECT_TRUE(AnnexBConverter::appendLengthPrefixed(data, out));
    // The zero-length unit in the middle yields no bare start code.
    EXPECT_EQ(out, (Bytes{0xAA, 0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x65, 0x88, 0x84}));

    Bytes empty;
    EXPECT_TRUE(AnnexBConverter::appendLengthPrefixed({}, empty));
    EXPECT_TRUE(AnnexBConverter::appendLengthPrefixed(Bytes{0, 0, 0, 0}, empty));
    EXPECT_TRUE(empty.empty());
}

TEST(AnnexBConverter, StopsAtALengthThatRunsPastTheBuffer)
{
    // One good unit, then a length of 5 with only 2 bytes behind it.
    const Bytes overrun{0, 0, 0, 1, 0x09, 0, 0, 0, 5, 0x41, 0x42};
    Bytes out;
    EXPECT_FALSE(AnnexBConverter::appendLengthPrefixed(overrun, out));
    EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x09}));

    // A length near 2^32 must not wrap the offset round.
    out.clear();
    EXPECT_FALSE(AnnexBConverter::appendLengthPrefixed(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x41}, out));
    EXPECT_FALSE(AnnexBConverter::appendLengthPrefixed(Bytes{0, 0, 0, 4}, out));
    EXPECT_TRUE(out.empty());

    // A length field cut off at the end.
    EXPECT_FALSE(AnnexBConverter::appendLengthPrefixed(Bytes{0, 0, 0, 1, 0x09, 0, 0}, out));
    EXPECT_EQ(out, (Bytes{0, 0, 0, 1, 0x09}));
}

#include "Session/CastingCode.h"
#include "Session/SessionTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

TEST(CastingCode, OnlySixLettersAndDigitsAreACode)
{
    for (const char* code : {"A1b2C3", "000000", "zzzzzz"})
        EXPECT_TRUE(CastingCode::isCastingCode(code)) << code;
    for (const char* text : {"", "A1B2C", "A1B2C3D", "A1B2C-", "A1B2C ", " A1B2C", "1.2.3.", "\xC3\x84\xC3\x96\xC3\x9C",
                             "A1B2\xC3\x84"})
        EXPECT_FALSE(CastingCode::isCastingCode(text)) << text;
    EXPECT_EQ(CastingCode::decodeIpFromCode("A1B2C-", "192"), std::nullopt);
}

TEST(CastingCode, BinaryStringsKeepTheLowBits)
{
    EXPECT_EQ(CastingCode::toBinaryString(0, 5), "00000");
    EXPECT_EQ(CastingCode::toBinaryString(0, 0), "");
    EXPECT_EQ(CastingCode::toBinaryString(5, 5), "00101");
    EXPECT_EQ(CastingCode::toBinaryString(31, 5), "11111");
    EXPECT_EQ(CastingCode::toBinaryString(35, 5), "00011");
    EXPECT_EQ(CastingCode::toBinaryString(16, 4), "0000");
    EXPECT_EQ(CastingCode::toBinaryString(35, 4), "0011");
}

TEST(CastingCode, DecodesTheEdgeCases)
{
    // Every character equal to the first: all distances 0.
    EXPECT_EQ(CastingCode::decodeIpFromCode("KKKKKK", "192"), "192.0.0.0");
    EXPECT_EQ(CastingCode::decodeIpFromCode("777777", "10"), "10.0.0.0");
    // Distances 21, 0, 0, 17 and 4 from the key K (20).
    EXPECT_EQ(CastingCode::decodeIpFromCode("K5KK1O", CastingCode::firstOctet("192.168.0.7")), "192.168.1.20");
    EXPECT_EQ(CastingCode::decodeIpFromCode("K5KK1O", CastingCode::firstOctet("10.0.0.7")), "10.168.1.20");
    // Letters decode in either case.
    EXPECT_EQ(CastingCode::decodeIpFromCode("k5kk1o", "192"), "192.168.1.20");
    // Distances 32-35 keep their low five bits; 16-35 in the last group their low four.
    EXPECT_EQ(CastingCode::decodeIpFromCode("0W0000", "1"), "1.0.0.0");
    EXPECT_EQ(CastingCode::decodeIpFromCode("0Z000G", "1"), "1.24.0.0");
    // The distance wraps around the table: Z then 0 is 1.
    EXPECT_EQ(CastingCode::decodeIpFromCode("Z0ZZZZ", "1"), "1.8.0.0");
}

TEST(CastingCode, DecodesWhatTheTvEncodes)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> octet(0, 255);
    std::uniform_int_distribution<size_t> key(0, CastingCode::kCodeTable.size() - 1);
    for (int round = 0; round < 500; ++round) {
        const std::array<int, 3> octets{octet(random), octet(random), octet(random)};
        const std::string code = encodeCastingCode(CastingCode::kCodeTable[key(random)], octets);
        const std::string expected =
            "172." + std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]);
        EXPECT_EQ(CastingCode::decodeIpFromCode(code, "172"), expected) << code;
    }
    EXPECT_EQ(CastingCode::firstOctet("127.0.0.1"), "127");
    EXPECT_EQ(CastingCode::firstOctet("nodots"), "nodots");
}

} // namespace

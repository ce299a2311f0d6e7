#include "Utils/ByteReader.h"
#include "Utils/ByteWriter.h"

#include <gtest/gtest.h>

#include <vector>

TEST(ByteReader, ShortReadsZeroExtendAndMarkIncomplete)
{
    const std::vector<uint8_t> two{0x00, 0x05};
    ByteReader reader(two);
    EXPECT_EQ(reader.u32be(), 0x00050000u);
    EXPECT_FALSE(reader.complete());
    EXPECT_EQ(reader.remaining(), 0u);
    EXPECT_EQ(reader.u8(), 0u);

    ByteReader empty(nullptr, 10);
    EXPECT_EQ(empty.size(), 0u);
    EXPECT_EQ(empty.u64le(), 0u);
    EXPECT_FALSE(empty.complete());
}

TEST(ByteReader, SkipSeekAndSpansStayInBounds)
{
    const std::vector<uint8_t> bytes{1, 2, 3};
    ByteReader reader(bytes);
    reader.seek(2);
    EXPECT_EQ(reader.bytes(5).size(), 1u);
    EXPECT_FALSE(reader.complete());
    ByteReader skipper(bytes);
    skipper.skip(100);
    EXPECT_EQ(skipper.offset(), 3u);
    EXPECT_TRUE(skipper.rest().empty());
}

TEST(ByteReader, TextStopsAtNulEndAndCharacterBoundary)
{
    const std::string withNul("name\0tail", 9);
    ByteReader a(withNul.data(), withNul.size());
    EXPECT_EQ(a.text(), "name");

    const std::string unterminated = "abc";
    ByteReader b(unterminated.data(), unterminated.size());
    EXPECT_EQ(b.text(), "abc");

    // "é" is C3 A9: a limit of 2 bytes keeps "a", never half a character.
    const std::string accented = "a\xC3\xA9";
    ByteReader c(accented.data(), accented.size());
    EXPECT_EQ(c.text(2), "a");
    EXPECT_EQ(ByteReader::cutUtf8("\xF0\x9F\x98\x80x", 4), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ByteReader::cutUtf8("\xF0\x9F\x98\x80x", 3), "");
    EXPECT_EQ(ByteReader::cutUtf8("abc", 10), "abc");
}

TEST(ByteWriter, FixedTextIsTerminatedAndCutAtCharacterBoundary)
{
    ByteWriter writer;
    writer.fixedText("\xC3\xA9\xC3\xA9", 4);
    EXPECT_EQ(writer.data(), (std::vector<uint8_t>{0xC3, 0xA9, 0, 0}));

    ByteWriter exact;
    exact.fixedText("abcd", 4);
    EXPECT_EQ(exact.data(), (std::vector<uint8_t>{'a', 'b', 'c', 0}));
}

// One golden record, written and read back in every byte order.
TEST(ByteWriter, ByteOrdersMatchTheGoldenBytesAndTheReader)
{
    ByteWriter writer;
    writer.u32le(0x21000012).u32be(0x01020304).u64be(0xFFFFFFFFFFFFFFFEull).u16le(0x2002).u64le(0x0807060504030201ull);
    const std::vector<uint8_t> golden{0x12, 0x00, 0x00, 0x21, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE,
                                      0x02, 0x20, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(writer.data(), golden);

    ByteReader reader(golden);
    EXPECT_EQ(reader.u32le(), 0x21000012u);
    EXPECT_EQ(reader.u16be(), 0x0102);
    EXPECT_EQ(reader.u16le(), 0x0403);
    EXPECT_EQ(reader.u64be(), 0xFFFFFFFFFFFFFFFEull);
    EXPECT_EQ(reader.u16le(), 0x2002);
    EXPECT_EQ(reader.u64le(), 0x0807060504030201ull);
    EXPECT_TRUE(reader.complete());
}

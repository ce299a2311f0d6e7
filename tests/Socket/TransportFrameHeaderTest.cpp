#include "FrameTestSupport.h"
#include "Socket/TransportFrameHeader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Written by golden_frames.py at build time; the same cases are rebuilt here in the same order.
std::vector<uint8_t> goldenFrames()
{
    std::ifstream in(GOLDEN_FRAMES_PATH, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const TransportFrameHeader kGoldenHeaders[] = {
    {kTransportMagic, 0x04030201, 0x2002, 3, 2, 65'536, 0x1122334455667788},
    {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFF, 255, 254, 262'144, 0xFFFFFFFFFFFFFFFF},
    {0, 0, 0, 0, 0, 0, 0},
};

} // namespace

TEST(TransportFrameHeader, EncodingMatchesIndependentGoldenBytes)
{
    std::vector<uint8_t> ours;
    for (const auto& header : kGoldenHeaders) {
        const auto bytes = rawFragment(header);
        ours.insert(ours.end(), bytes.begin(), bytes.end());
    }
    auto fragmenter = MessageFragmenter::withFragmentSize(4);
    ASSERT_TRUE(fragmenter);
    std::vector<uint8_t> ten(10);
    for (uint8_t i = 0; i < 10; ++i)
        ten[i] = i;
    for (const auto& fragment : cutMessage(*fragmenter, 7, 0x1001, 1'700'000'000'123'456, ten))
        ours.insert(ours.end(), fragment.begin(), fragment.end());
    for (const auto& fragment : cutMessage(*fragmenter, 0, 0x0010, 1, {}))
        ours.insert(ours.end(), fragment.begin(), fragment.end());

    const auto golden = goldenFrames();
    ASSERT_EQ(golden.size(), 3 * 24 + (3 * 24 + 10) + 24u);
    EXPECT_EQ(ours, golden);
    // The magic's wire order, spelled out.
    EXPECT_EQ(std::vector<uint8_t>(golden.begin(), golden.begin() + 4), (std::vector<uint8_t>{0x12, 0x00, 0x00, 0x21}));
}

TEST(TransportFrameHeader, DecodesGoldenBytesAndRefusesShortInput)
{
    const auto golden = goldenFrames();
    ASSERT_GE(golden.size(), 3 * TransportFrameHeader::kSize);
    for (size_t i = 0; i < 3; ++i) {
        const auto decoded = TransportFrameHeader::decode(std::span(golden).subspan(i * TransportFrameHeader::kSize));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(*decoded, kGoldenHeaders[i]);
    }

    EXPECT_FALSE(TransportFrameHeader::decode(std::span(golden).first(TransportFrameHeader::kSize - 1)));
    std::vector<uint8_t> tooShort(TransportFrameHeader::kSize - 1, 0xAB);
    EXPECT_FALSE(kGoldenHeaders[0].encode(tooShort));
    EXPECT_EQ(tooShort, std::vector<uint8_t>(TransportFrameHeader::kSize - 1, 0xAB));
}
